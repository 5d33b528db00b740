// SPDX-License-Identifier: GPL-3.0-or-later
// The usage sampler's arithmetic on captured /proc texts and on hand-made counter readings,
// and the performance grade.
#include "../lib/spinner.h"
#include "memory/systemusagesampler.h"
#include "platform/linux/procfsmemory.h"
#include "procfixturesource.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <thread>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using vb::platform::SystemTimes;
Q_DECLARE_METATYPE(SystemTimes)

namespace {
QString fixture(const char* name)
{
    return QStringLiteral(VB_TEST_FIXTURES "/proc/") + QLatin1String(name);
}
constexpr quint64 kMax = std::numeric_limits<quint64>::max();

// A /proc of captured files for the real procfs backend; the test swaps "stat" between calls.
class FixtureRoot
{
public:
    FixtureRoot()
        : memory(std::make_shared<vb::platform::linux_::ProcfsMemory>(m_dir.path().toStdString()))
    {}
    void use(const char* procName, const QString& fixtureFile)
    {
        const QString target = m_dir.filePath(QLatin1String(procName));
        QFile::remove(target);
        if (QFile::exists(fixtureFile))
            QVERIFY(QFile::copy(fixtureFile, target));
    }

private:
    QTemporaryDir m_dir; // before memory, which is made from its path

public:
    std::shared_ptr<vb::platform::linux_::ProcfsMemory> memory;
};
} // namespace

class TestSystemUsageSampler : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cpuUsageBetween_data();
    void cpuUsageBetween();
    void sampleFromFixtures_data();
    void sampleFromFixtures();
    void failedTimesReadingSpansTheNextInterval();
    void eachIntervalStandsAlone();
    void withoutSourceEverythingIsZero();
    void grade_data();
    void grade();
    void liveMachineWithOneCoreSpinning();
};

void TestSystemUsageSampler::cpuUsageBetween_data()
{
    QTest::addColumn<SystemTimes>("before");
    QTest::addColumn<SystemTimes>("after");
    QTest::addColumn<quint32>("usage");
    // idle, kernel (idle included), user
    QTest::newRow("no time passed")
        << SystemTimes{500, 900, 300} << SystemTimes{500, 900, 300} << 0u;
    QTest::newRow("fully idle") << SystemTimes{0, 0, 0} << SystemTimes{1000, 1000, 0} << 0u;
    QTest::newRow("no idle time") << SystemTimes{0, 0, 0} << SystemTimes{0, 600, 400} << 100u;
    QTest::newRow("half busy") << SystemTimes{10, 20, 30} << SystemTimes{510, 720, 330} << 50u;
    QTest::newRow("truncates, never rounds up")
        << SystemTimes{0, 0, 0} << SystemTimes{1, 2, 1} << 66u;
    QTest::newRow("user time only advanced")
        << SystemTimes{7, 7, 7} << SystemTimes{7, 7, 8} << 100u;
    QTest::newRow("counters wrapped past 2^64")
        << SystemTimes{kMax - 99, kMax - 199, kMax - 49} << SystemTimes{100, 200, 50} << 60u;
    QTest::newRow("kernel went backwards")
        << SystemTimes{100, 5000, 100} << SystemTimes{200, 4000, 900} << 0u;
    QTest::newRow("user went backwards")
        << SystemTimes{100, 5000, 1000} << SystemTimes{200, 6000, 900} << 0u;
    QTest::newRow("idle went backwards")
        << SystemTimes{5000, 9000, 0} << SystemTimes{4000, 9500, 500} << 0u;
    QTest::newRow("more idle than elapsed")
        << SystemTimes{0, 0, 0} << SystemTimes{900, 500, 100} << 0u;
    QTest::newRow("huge busy interval does not overflow")
        << SystemTimes{0, 0, 0} << SystemTimes{0, quint64(1) << 61, quint64(1) << 61} << 100u;
    QTest::newRow("huge mixed interval does not overflow")
        << SystemTimes{0, 0, 0} << SystemTimes{quint64(1) << 61, quint64(1) << 62, 0} << 50u;
}

void TestSystemUsageSampler::cpuUsageBetween()
{
    QFETCH(SystemTimes, before);
    QFETCH(SystemTimes, after);
    QFETCH(quint32, usage);
    QCOMPARE(SystemUsageSampler::cpuUsageBetween(before, after), usage);
}

void TestSystemUsageSampler::sampleFromFixtures_data()
{
    QTest::addColumn<QString>("meminfo");
    QTest::addColumn<QString>("statAfter");
    QTest::addColumn<quint32>("memoryLoad");
    QTest::addColumn<quint64>("availPhys");
    QTest::addColumn<quint32>("cpuUsage");
    QTest::newRow("idle machine") << fixture("meminfo-typical") << fixture("stat-idle") << 75u
                                  << quint64(2000000) * 1024 << 1u;
    QTest::newRow("busy machine") << fixture("meminfo-typical") << fixture("stat-busy") << 75u
                                  << quint64(2000000) * 1024 << 96u;
    QTest::newRow("one core spinning") << fixture("meminfo-nine-gib-free") << fixture("stat-half")
                                       << 61u << (quint64(9) << 30) << 50u;
    QTest::newRow("a core went offline") << fixture("meminfo-typical") << fixture("stat-backwards")
                                         << 75u << quint64(2000000) * 1024 << 0u;
    QTest::newRow("stat line cut short") << fixture("meminfo-typical") << fixture("stat-truncated")
                                         << 75u << quint64(2000000) * 1024 << 0u;
    // Kernels before 3.14: free memory and the page cache stand in for the estimate.
    QTest::newRow("no MemAvailable line") << fixture("meminfo-no-available") << fixture("stat-half")
                                          << 75u << quint64(512000 + 20480 + 1400000) * 1024 << 50u;
    QTest::newRow("unreadable numbers")
        << fixture("meminfo-garbage") << fixture("stat-busy") << 0u << quint64(0) << 96u;
    QTest::newRow("missing meminfo file")
        << fixture("no-such-file") << fixture("stat-idle") << 0u << quint64(0) << 1u;
}

void TestSystemUsageSampler::sampleFromFixtures()
{
    QFETCH(QString, meminfo);
    QFETCH(QString, statAfter);
    FixtureRoot root;
    root.use("meminfo", meminfo);
    root.use("stat", fixture("stat-start"));
    SystemUsageSampler sampler(root.memory);
    sampler.prime();
    root.use("stat", statAfter);
    const TotalMemoryCpuFlowInfo_ptr info = sampler.sample();
    QVERIFY(info);
    QTEST(info->memoryLoad, "memoryLoad");
    QTEST(info->availPhys, "availPhys");
    QTEST(info->cpuUsage, "cpuUsage");
    // The traffic half of the record is the worker's and starts at zero.
    QCOMPARE(info->flowIn, quint64(0));
    QCOMPARE(info->flowInDelta, quint64(0));
    QCOMPARE(info->flowOut, quint64(0));
    QCOMPARE(info->flowOutDelta, quint64(0));
    QCOMPARE(info->intervalMs, 0u);
}

void TestSystemUsageSampler::failedTimesReadingSpansTheNextInterval()
{
    FixtureRoot root;
    root.use("meminfo", fixture("meminfo-typical"));
    // start, a broken reading, then the busy one: measured against start, not the broken one
    root.use("stat", fixture("stat-start"));
    SystemUsageSampler sampler(root.memory);
    sampler.prime();
    root.use("stat", fixture("stat-truncated"));
    QCOMPARE(sampler.sample()->cpuUsage, 0u);
    root.use("stat", fixture("no-such-file"));
    QCOMPARE(sampler.sample()->cpuUsage, 0u);
    root.use("stat", fixture("stat-busy"));
    QCOMPARE(sampler.sample()->cpuUsage, 96u);
}

void TestSystemUsageSampler::eachIntervalStandsAlone()
{
    auto source = std::make_shared<ProcTextSource>();
    source->meminfoPath = fixture("meminfo-typical");
    // start -> busy, then busy -> busy again (no time passed): no averaging with the past
    source->statPaths = {fixture("stat-start"), fixture("stat-busy"), fixture("stat-busy")};
    SystemUsageSampler sampler(source);
    sampler.prime();
    const auto first = sampler.sample();
    const auto second = sampler.sample();
    QCOMPARE(first->cpuUsage, 96u);
    QCOMPARE(second->cpuUsage, 0u);
    QVERIFY(first != second);
}

void TestSystemUsageSampler::withoutSourceEverythingIsZero()
{
    // No files: every reading fails.
    SystemUsageSampler sampler(std::make_shared<ProcTextSource>());
    sampler.prime();
    const auto info = sampler.sample();
    QVERIFY(info);
    QCOMPARE(info->memoryLoad, 0u);
    QCOMPARE(info->availPhys, quint64(0));
    QCOMPARE(info->cpuUsage, 0u);
    // Without memory figures the grade gets the full memory-load points and no bonus.
    QCOMPARE(SystemUsageSampler::performanceGrade(info.get()), 55u);
}

void TestSystemUsageSampler::grade_data()
{
    QTest::addColumn<bool>("haveInfo");
    QTest::addColumn<quint32>("cpu");
    QTest::addColumn<quint32>("load");
    QTest::addColumn<quint64>("avail");
    QTest::addColumn<uint>("grade");
    const quint64 GiB = quint64(1) << 30;
    QTest::newRow("no record yet") << false << 0u << 0u << quint64(0) << 50u;
    QTest::newRow("idle, empty, 8 GiB free") << true << 0u << 0u << 8 * GiB << 75u;
    QTest::newRow("all busy, full, 1 GiB free") << true << 100u << 100u << GiB << 0u;
    QTest::newRow("7.9 GiB counts as 7") << true << 0u << 0u << (79 * GiB / 10) << 68u;
    QTest::newRow("4 GiB bonus 13") << true << 0u << 0u << 4 * GiB << 68u;
    QTest::newRow("just under 4 GiB bonus 8") << true << 0u << 0u << (4 * GiB - 1) << 63u;
    QTest::newRow("2 GiB bonus 8") << true << 0u << 0u << 2 * GiB << 63u;
    QTest::newRow("just under 2 GiB no bonus") << true << 0u << 0u << (2 * GiB - 1) << 55u;
    QTest::newRow("more memory adds nothing past 8 GiB") << true << 0u << 0u << 64 * GiB << 75u;
    QTest::newRow("truncated, not rounded") << true << 33u << 47u << 0 * GiB << 31u;
    QTest::newRow("half busy, 61 % load, 9 GiB") << true << 50u << 61u << 9 * GiB << 43u;
}

void TestSystemUsageSampler::grade()
{
    QFETCH(bool, haveInfo);
    TotalMemoryCpuFlowInfo info;
    QFETCH(quint32, cpu);
    QFETCH(quint32, load);
    QFETCH(quint64, avail);
    info.cpuUsage = cpu;
    info.memoryLoad = load;
    info.availPhys = avail;
    QTEST(SystemUsageSampler::performanceGrade(haveInfo ? &info : nullptr), "grade");
}

namespace {

struct Reading
{
    quint32 sampler;     // the sampler on the real backend
    quint32 independent; // the test's own reading of /proc/stat over the same interval
};

Reading measureOneInterval(SystemUsageSampler& sampler, ProcTextSource& own)
{
    SystemTimes before, after;
    own.systemTimes(before);
    sampler.prime();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto info = sampler.sample();
    own.systemTimes(after);
    return Reading{info ? info->cpuUsage : 999u,
                   SystemUsageSampler::cpuUsageBetween(before, after)};
}
} // namespace

void TestSystemUsageSampler::liveMachineWithOneCoreSpinning()
{
    auto native = std::make_shared<vb::platform::linux_::ProcfsMemory>();
    QVERIFY(native);
    SystemUsageSampler sampler(native);
    ProcTextSource own;
    own.liveStat = true;
    own.meminfoPath = QStringLiteral("/proc/meminfo");
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    QVERIFY(cores >= 1);

    const Reading quiet = measureOneInterval(sampler, own);
    const pid_t spinner = vb::test::startSpinner(0, 60);
    QVERIFY(spinner > 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Reading busy = measureOneInterval(sampler, own);
    const auto info = sampler.sample();
    vb::platform::MemoryStatus mem;
    const bool memOk = own.memoryStatus(mem);
    ::kill(spinner, SIGKILL);
    ::waitpid(spinner, nullptr, 0);

    qInfo("quiet: %u %% (own reading %u %%), one core spinning of %ld: %u %% (own %u %%)",
          quiet.sampler, quiet.independent, cores, busy.sampler, busy.independent);
    QVERIFY(quiet.sampler <= 100);
    // One spinning core of N is at least 100/N percent, whatever else runs on this shared
    // machine; with the machine otherwise quiet it is about that and no more.
    const quint32 floor = quint32(100 / cores) - 10;
    QVERIFY2(busy.sampler >= floor, qPrintable(QString::number(busy.sampler)));
    QVERIFY(busy.sampler <= 100);
    if (quiet.sampler < 10 && cores == 2)
        QVERIFY2(busy.sampler <= 75, qPrintable(QString::number(busy.sampler)));
    // The backend's mapping of /proc/stat agrees with a reading of our own.
    QVERIFY2(qAbs(int(busy.sampler) - int(busy.independent)) <= 10,
             qPrintable(QStringLiteral("%1 vs %2").arg(busy.sampler).arg(busy.independent)));
    // Memory load as the kernel's own estimate gives it.
    QVERIFY(info && memOk);
    QVERIFY2(qAbs(int(info->memoryLoad) - int(mem.memoryLoad)) <= 2,
             qPrintable(QStringLiteral("%1 vs %2").arg(info->memoryLoad).arg(mem.memoryLoad)));
    QVERIFY(info->memoryLoad > 0 && info->memoryLoad <= 100);
    QVERIFY(info->availPhys > 0);
}

QTEST_GUILESS_MAIN(TestSystemUsageSampler)
#include "tst_systemusagesampler.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The usage sampler's arithmetic on captured /proc texts and on hand-made counter readings,
// and the performance grade.
#include "../lib/spinner.h"
#include "memory/systemusagesampler.h"
#include "platform/linux/procfsmemory.h"

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
    return QStringLiteral(VB_TEST_FIXTURES "/memory/") + QLatin1String(name);
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
    const quint64 KiB = 1024;
    QTest::newRow("idle machine") << fixture("meminfo-small.txt") << fixture("stat-idle.txt") << 75u
                                  << 250 * KiB << 1u;
    QTest::newRow("busy machine") << fixture("meminfo-small.txt") << fixture("stat-busy.txt") << 75u
                                  << 250 * KiB << 96u;
    QTest::newRow("one core spinning") << fixture("meminfo-debian12.txt")
                                       << fixture("stat-half.txt") << 1u << 24226896 * KiB << 50u;
    QTest::newRow("a core went offline")
        << fixture("meminfo-small.txt") << fixture("stat-backwards.txt") << 75u << 250 * KiB << 0u;
    QTest::newRow("stat line cut short")
        << fixture("meminfo-small.txt") << fixture("stat-short.txt") << 75u << 250 * KiB << 0u;
    // Kernels before 3.14: free memory and the page cache stand in for the estimate.
    QTest::newRow("no MemAvailable line")
        << fixture("meminfo-old.txt") << fixture("stat-half.txt") << 70u << 300 * KiB << 50u;
    QTest::newRow("unreadable numbers")
        << fixture("meminfo-corrupt.txt") << fixture("stat-busy.txt") << 0u << quint64(0) << 96u;
    QTest::newRow("missing meminfo file")
        << fixture("no-such-file") << fixture("stat-idle.txt") << 0u << quint64(0) << 1u;
}

void TestSystemUsageSampler::sampleFromFixtures()
{
    QFETCH(QString, meminfo);
    QFETCH(QString, statAfter);
    FixtureRoot root;
    root.use("meminfo", meminfo);
    root.use("stat", fixture("stat-start.txt"));
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
    root.use("meminfo", fixture("meminfo-small.txt"));
    // start, a broken reading, then the busy one: measured against start, not the broken one
    root.use("stat", fixture("stat-start.txt"));
    SystemUsageSampler sampler(root.memory);
    sampler.prime();
    root.use("stat", fixture("stat-short.txt"));
    QCOMPARE(sampler.sample()->cpuUsage, 0u);
    root.use("stat", fixture("no-such-file"));
    QCOMPARE(sampler.sample()->cpuUsage, 0u);
    root.use("stat", fixture("stat-busy.txt"));
    QCOMPARE(sampler.sample()->cpuUsage, 96u);
}

void TestSystemUsageSampler::eachIntervalStandsAlone()
{
    FixtureRoot root;
    root.use("meminfo", fixture("meminfo-small.txt"));
    root.use("stat", fixture("stat-start.txt"));
    SystemUsageSampler sampler(root.memory);
    sampler.prime();
    // start -> busy, then busy -> busy again (no time passed): no averaging with the past
    root.use("stat", fixture("stat-busy.txt"));
    const auto first = sampler.sample();
    const auto second = sampler.sample();
    QCOMPARE(first->cpuUsage, 96u);
    QCOMPARE(second->cpuUsage, 0u);
    QVERIFY(first != second);
}

void TestSystemUsageSampler::withoutSourceEverythingIsZero()
{
    // An empty /proc: every reading fails.
    FixtureRoot root;
    SystemUsageSampler sampler(root.memory);
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
quint32 measureOneInterval(SystemUsageSampler& sampler)
{
    sampler.prime();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto info = sampler.sample();
    return info ? info->cpuUsage : 999u;
}
} // namespace

void TestSystemUsageSampler::liveMachineWithOneCoreSpinning()
{
    auto native = std::make_shared<vb::platform::linux_::ProcfsMemory>();
    SystemUsageSampler sampler(native);
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    QVERIFY(cores >= 1);

    const quint32 quiet = measureOneInterval(sampler);
    const pid_t spinner = vb::test::startSpinner(0, 60);
    QVERIFY(spinner > 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const quint32 busy = measureOneInterval(sampler);
    const auto info = sampler.sample();
    vb::platform::MemoryStatus mem;
    const bool memOk = native->memoryStatus(mem);
    ::kill(spinner, SIGKILL);
    ::waitpid(spinner, nullptr, 0);

    qInfo("quiet: %u %%, one core spinning of %ld: %u %%", quiet, cores, busy);
    QVERIFY(quiet <= 100);
    // One spinning core of N keeps the machine at least 100/N percent busy, whatever else runs
    // on it (a core the spinner is pushed off is busy with someone else). A tenth of that share
    // is left for the sampler's truncation and the edges of the interval.
    const quint32 floor = quint32(90 / cores);
    QVERIFY2(busy >= floor, qPrintable(QStringLiteral("%1 < %2").arg(busy).arg(floor)));
    QVERIFY(busy <= 100);
    if (quiet < 10 && cores == 2)
        QVERIFY2(busy <= 75, qPrintable(QString::number(busy)));
    // Memory load as the kernel's own estimate gives it.
    QVERIFY(info && memOk);
    QVERIFY2(qAbs(int(info->memoryLoad) - int(mem.memoryLoad)) <= 2,
             qPrintable(QStringLiteral("%1 vs %2").arg(info->memoryLoad).arg(mem.memoryLoad)));
    QVERIFY(info->memoryLoad > 0 && info->memoryLoad <= 100);
    QVERIFY(info->availPhys > 0);
}

QTEST_GUILESS_MAIN(TestSystemUsageSampler)
#include "tst_systemusagesampler.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The usage sampler's arithmetic on captured /proc texts and on hand-made counter readings,
// and the performance grade.
#include "memory/systemusagesampler.h"
#include "procfixturesource.h"

#include <QTest>

#include <limits>

using vb::platform::SystemTimes;
Q_DECLARE_METATYPE(SystemTimes)

namespace {
QString fixture(const char* name)
{
    return QStringLiteral(VB_TEST_FIXTURES "/proc/") + QLatin1String(name);
}
constexpr quint64 kMax = std::numeric_limits<quint64>::max();
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
};

void TestSystemUsageSampler::cpuUsageBetween_data()
{
    QTest::addColumn<SystemTimes>("before");
    QTest::addColumn<SystemTimes>("after");
    QTest::addColumn<quint32>("usage");
    // idle, kernel (idle included), user
    QTest::newRow("no time passed") << SystemTimes{500, 900, 300} << SystemTimes{500, 900, 300} << 0u;
    QTest::newRow("fully idle") << SystemTimes{0, 0, 0} << SystemTimes{1000, 1000, 0} << 0u;
    QTest::newRow("no idle time") << SystemTimes{0, 0, 0} << SystemTimes{0, 600, 400} << 100u;
    QTest::newRow("half busy") << SystemTimes{10, 20, 30} << SystemTimes{510, 720, 330} << 50u;
    QTest::newRow("truncates, never rounds up") << SystemTimes{0, 0, 0} << SystemTimes{1, 2, 1}
                                                << 66u;
    QTest::newRow("user time only advanced") << SystemTimes{7, 7, 7} << SystemTimes{7, 7, 8}
                                             << 100u;
    QTest::newRow("counters wrapped past 2^64")
        << SystemTimes{kMax - 99, kMax - 199, kMax - 49} << SystemTimes{100, 200, 50} << 60u;
    QTest::newRow("kernel went backwards") << SystemTimes{100, 5000, 100}
                                           << SystemTimes{200, 4000, 900} << 0u;
    QTest::newRow("user went backwards") << SystemTimes{100, 5000, 1000}
                                         << SystemTimes{200, 6000, 900} << 0u;
    QTest::newRow("idle went backwards") << SystemTimes{5000, 9000, 0}
                                         << SystemTimes{4000, 9500, 500} << 0u;
    QTest::newRow("more idle than elapsed") << SystemTimes{0, 0, 0} << SystemTimes{900, 500, 100}
                                            << 0u;
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
    QTest::newRow("no MemAvailable line") << fixture("meminfo-no-available") << fixture("stat-half")
                                          << 0u << quint64(0) << 50u;
    QTest::newRow("unreadable numbers") << fixture("meminfo-garbage") << fixture("stat-busy") << 0u
                                        << quint64(0) << 96u;
    QTest::newRow("missing meminfo file") << fixture("no-such-file") << fixture("stat-idle") << 0u
                                          << quint64(0) << 1u;
}

void TestSystemUsageSampler::sampleFromFixtures()
{
    QFETCH(QString, meminfo);
    QFETCH(QString, statAfter);
    auto source = std::make_shared<ProcTextSource>();
    source->meminfoPath = meminfo;
    source->statPaths = {fixture("stat-start"), statAfter};
    SystemUsageSampler sampler(source);
    sampler.prime();
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
    auto source = std::make_shared<ProcTextSource>();
    source->meminfoPath = fixture("meminfo-typical");
    // start, a broken reading, then the busy one: measured against start, not the broken one
    source->statPaths = {fixture("stat-start"), fixture("stat-truncated"), fixture("stat-busy")};
    SystemUsageSampler sampler(source);
    sampler.prime();
    QCOMPARE(sampler.sample()->cpuUsage, 0u);
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

QTEST_GUILESS_MAIN(TestSystemUsageSampler)
#include "tst_systemusagesampler.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The procfs readers of memory figures, CPU times and mappings, over captured and damaged files.
#include "../lib/files.h"
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"

#include <QTemporaryDir>
#include <QTest>

using vb::platform::MemoryStatus;
using vb::platform::SystemTimes;
using vb::platform::linux_::HeldKernelFile;
using vb::platform::linux_::PidfdWorkingSets;
using vb::platform::linux_::ProcfsMemory;

namespace {
std::string fixture(const QString& name)
{
    return vb::test::fixtureText(QStringLiteral("memory/") + name).toStdString();
}
constexpr quint64 KiB = 1024;
} // namespace

class TestProcfsMemory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void meminfo_data();
    void meminfo();
    void perCpuFree_data();
    void perCpuFree();
    void stat_data();
    void stat();
    void maps_data();
    void maps();
    void readsFromItsRoot();
    void liveFiguresAreConsistent();
    void aHeldFileIsReadAnewEachTime();
};

void TestProcfsMemory::meminfo_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<quint64>("perCpu");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("load");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("avail");
    QTest::addColumn<quint64>("free");

    QTest::newRow("this machine") << "meminfo-debian12.txt" << quint64(11636 * 4096) << true << 1u
                                  << 24683784 * KiB << 24226896 * KiB
                                  << 23569348 * KiB + 11636 * 4096;
    QTest::newRow("three quarters used")
        << "meminfo-small.txt" << quint64(0) << true << 75u << 1000 * KiB << 250 * KiB << 100 * KiB;
    QTest::newRow("per-cpu pages are free too")
        << "meminfo-small.txt" << quint64(8192) << true << 75u << 1000 * KiB << 250 * KiB
        << 100 * KiB + 8192;
    QTest::newRow("free never above total") << "meminfo-small.txt" << quint64(4096 * KiB) << true
                                            << 75u << 1000 * KiB << 250 * KiB << 1000 * KiB;
    QTest::newRow("no MemAvailable: free plus cache")
        << "meminfo-old.txt" << quint64(0) << true << 70u << 1000 * KiB << 300 * KiB << 100 * KiB;
    QTest::newRow("available above total is capped")
        << "meminfo-availabove.txt" << quint64(0) << true << 0u << 1000 * KiB << 1000 * KiB
        << 100 * KiB;
    QTest::newRow("zero total") << "meminfo-zerototal.txt" << quint64(0) << false << 0u
                                << quint64(0) << quint64(0) << quint64(0);
    QTest::newRow("not a number") << "meminfo-corrupt.txt" << quint64(0) << false << 0u
                                  << quint64(0) << quint64(0) << quint64(0);
    QTest::newRow("no total") << "meminfo-nototal.txt" << quint64(0) << false << 0u << quint64(0)
                              << quint64(0) << quint64(0);
    QTest::newRow("overflowing number") << "meminfo-overflow.txt" << quint64(0) << false << 0u
                                        << quint64(0) << quint64(0) << quint64(0);
    QTest::newRow("empty") << "empty.txt" << quint64(0) << false << 0u << quint64(0) << quint64(0)
                           << quint64(0);
}

void TestProcfsMemory::meminfo()
{
    QFETCH(QString, file);
    QFETCH(quint64, perCpu);
    MemoryStatus s;
    s.memoryLoad = 99; // must be overwritten, also on failure
    s.totalPhysBytes = 7;
    QFETCH(bool, ok);
    QCOMPARE(ProcfsMemory::parseMeminfo(fixture(file), perCpu, s), ok);
    QFETCH(uint, load);
    QFETCH(quint64, total);
    QFETCH(quint64, avail);
    QFETCH(quint64, free);
    QCOMPARE(s.memoryLoad, load);
    QCOMPARE(quint64(s.totalPhysBytes), total);
    QCOMPARE(quint64(s.availPhysBytes), avail);
    QCOMPARE(quint64(s.freePhysBytes), free);
}

void TestProcfsMemory::perCpuFree_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<quint64>("page");
    QTest::addColumn<bool>("found");
    QTest::addColumn<quint64>("bytes");
    QTest::newRow("this machine") << "zoneinfo-debian12.txt" << quint64(4096) << true
                                  << quint64(11636) * 4096;
    QTest::newRow("two cpus") << "zoneinfo-small.txt" << quint64(4096) << true
                              << quint64(15 * 4096);
    QTest::newRow("large pages") << "zoneinfo-small.txt" << quint64(65536) << true
                                 << quint64(15 * 65536);
    QTest::newRow("not zoneinfo") << "meminfo-small.txt" << quint64(4096) << false << quint64(0);
    QTest::newRow("empty") << "empty.txt" << quint64(4096) << false << quint64(0);
}

void TestProcfsMemory::perCpuFree()
{
    QFETCH(QString, file);
    QFETCH(quint64, page);
    QFETCH(bool, found);
    QFETCH(quint64, bytes);
    const auto r = ProcfsMemory::parsePerCpuFreeBytes(fixture(file), page);
    QCOMPARE(r.has_value(), found);
    if (found)
        QCOMPARE(quint64(*r), bytes);
}

void TestProcfsMemory::stat_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("hz");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("idle");
    QTest::addColumn<quint64>("kernel");
    QTest::addColumn<quint64>("user");
    // One tick of 100 Hz is 100000 units of 100 ns.
    QTest::newRow("this machine") << "stat-debian12.txt" << 100 << true
                                  << quint64(228182 + 585) * 100000
                                  << quint64(10475 + 0 + 99 + 228182 + 585) * 100000
                                  << quint64(33902) * 100000;
    QTest::newRow("all ten fields") << "stat-full.txt" << 100 << true << quint64(450) * 100000
                                    << quint64(30 + 6 + 7 + 450) * 100000 << quint64(120) * 100000;
    QTest::newRow("250 Hz") << "stat-full.txt" << 250 << true << quint64(450) * 40000
                            << quint64(493) * 40000 << quint64(120) * 40000;
    QTest::newRow("four fields of an old kernel")
        << "stat-old.txt" << 100 << true << quint64(400) * 100000 << quint64(430) * 100000
        << quint64(120) * 100000;
    QTest::newRow("not a number") << "stat-corrupt.txt" << 100 << false << quint64(0) << quint64(0)
                                  << quint64(0);
    QTest::newRow("no total line first")
        << "stat-nototal.txt" << 100 << false << quint64(0) << quint64(0) << quint64(0);
    QTest::newRow("too short") << "stat-short.txt" << 100 << false << quint64(0) << quint64(0)
                               << quint64(0);
    QTest::newRow("no clock") << "stat-full.txt" << 0 << false << quint64(0) << quint64(0)
                              << quint64(0);
    QTest::newRow("empty") << "empty.txt" << 100 << false << quint64(0) << quint64(0) << quint64(0);
}

void TestProcfsMemory::stat()
{
    QFETCH(QString, file);
    QFETCH(int, hz);
    SystemTimes t;
    t.idle = 5;
    QFETCH(bool, ok);
    QCOMPARE(ProcfsMemory::parseStat(fixture(file), hz, t), ok);
    QFETCH(quint64, idle);
    QFETCH(quint64, kernel);
    QFETCH(quint64, user);
    QCOMPARE(quint64(t.idle), idle);
    QCOMPARE(quint64(t.kernel), kernel);
    QCOMPARE(quint64(t.user), user);
}

void TestProcfsMemory::maps_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("ranges");
    QTest::newRow("cat's own maps") << "maps-cat.txt" << QStringList();
    QTest::newRow("guards, special and broken lines")
        << "maps-odd.txt"
        << QStringList{QStringLiteral("55d0c0a00000-55d0c0a21000"),
                       QStringLiteral("7f0000001000-7f0000801000"),
                       QStringLiteral("7f0000801000-7f0000901000"),
                       QStringLiteral("7ffd1c0b5000-7ffd1c0d6000")};
    QTest::newRow("empty") << "empty.txt" << QStringList();
}

void TestProcfsMemory::maps()
{
    QFETCH(QString, file);
    QFETCH(QStringList, ranges);
    const std::string text = fixture(file);
    QStringList got;
    for (const auto& m : PidfdWorkingSets::parseMaps(text))
        got << QStringLiteral("%1-%2").arg(m.begin, 0, 16).arg(m.end, 0, 16);
    if (file == QLatin1String("maps-cat.txt")) {
        // Every line but the kernel's four special mappings, in order.
        QStringList expected;
        for (const QString& line : QString::fromStdString(text).split(QLatin1Char('\n'))) {
            if (line.isEmpty() || line.contains(QLatin1String("[v")))
                continue;
            expected << line.section(QLatin1Char(' '), 0, 0);
        }
        QCOMPARE(expected.size(), 34);
        QCOMPARE(got, expected);
        return;
    }
    QCOMPARE(got, ranges);
}

void TestProcfsMemory::readsFromItsRoot()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    auto put = [&](const char* name, const char* fixtureName) {
        QVERIFY(vb::test::put(
            root.filePath(QLatin1String(name)),
            vb::test::fixtureText(QLatin1String("memory/") + QLatin1String(fixtureName))));
    };
    ProcfsMemory mem(root.path().toStdString());
    MemoryStatus s;
    QVERIFY(!mem.memoryStatus(s)); // nothing there yet
    QVERIFY(!mem.memoryLoadStatus(s));
    SystemTimes t;
    QVERIFY(!mem.systemTimes(t));
    put("meminfo", "meminfo-small.txt");
    QVERIFY(mem.memoryStatus(s)); // zoneinfo is optional
    QCOMPARE(quint64(s.freePhysBytes), 100 * KiB);
    put("zoneinfo", "zoneinfo-small.txt");
    QVERIFY(mem.memoryStatus(s));
    QCOMPARE(s.memoryLoad, 75u);
    QVERIFY(s.freePhysBytes > 100 * KiB); // the per-CPU pages joined, in this machine's pages
    // The load alone: the same figures from meminfo, without the per-CPU pages.
    MemoryStatus load;
    QVERIFY(mem.memoryLoadStatus(load));
    QCOMPARE(load.memoryLoad, s.memoryLoad);
    QCOMPARE(load.availPhysBytes, s.availPhysBytes);
    QCOMPARE(load.totalPhysBytes, s.totalPhysBytes);
    QCOMPARE(quint64(load.freePhysBytes), 100 * KiB);
    put("stat", "stat-full.txt");
    QVERIFY(mem.systemTimes(t));
    QVERIFY(t.kernel > t.idle && t.user > 0);
}

void TestProcfsMemory::liveFiguresAreConsistent()
{
    ProcfsMemory mem;
    MemoryStatus s;
    QVERIFY(mem.memoryStatus(s));
    QVERIFY(s.totalPhysBytes > 0);
    QVERIFY(s.availPhysBytes <= s.totalPhysBytes);
    QVERIFY(s.freePhysBytes <= s.totalPhysBytes);
    QVERIFY(s.memoryLoad <= 100);
    SystemTimes a;
    QVERIFY(mem.systemTimes(a));
    QVERIFY(a.kernel >= a.idle);
    // The counters only grow; burn a little CPU so that they must.
    SystemTimes b;
    volatile unsigned long x = 0;
    for (int round = 0; round < 50; ++round) {
        for (unsigned long i = 0; i < 2000000; ++i)
            x = x + i;
        QVERIFY(mem.systemTimes(b));
        if (b.kernel + b.user > a.kernel + a.user)
            break;
    }
    QVERIFY(b.kernel + b.user > a.kernel + a.user);
    QVERIFY(b.idle >= a.idle);
    // The tick counter runs with the sleep of the same clock.
    const uint32_t t0 = mem.tickCountMs();
    mem.sleepMs(20);
    QVERIFY(uint32_t(mem.tickCountMs() - t0) >= 20);
}

void TestProcfsMemory::aHeldFileIsReadAnewEachTime()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("held"));
    HeldKernelFile held(path.toStdString());
    QVERIFY(!held.read()); // not there yet: tried again next time
    const auto put = [&path](const QByteArray& text) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    };
    // Longer than one read, then shorter: every reading is the whole file as it is now.
    const QByteArray longer = QByteArray(9000, 'x') + "end";
    for (const QByteArray& text : {QByteArray("first\n"), longer, QByteArray("short")}) {
        QVERIFY(put(text));
        const auto read = held.read();
        QVERIFY(read);
        QCOMPARE(QByteArray::fromStdString(*read), text);
    }
}

QTEST_GUILESS_MAIN(TestProcfsMemory)
#include "tst_procfsmemory.moc"

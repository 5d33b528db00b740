// SPDX-License-Identifier: GPL-3.0-or-later
// The release thread on a scripted clock and scripted figures: the 3000 ms minimum, the
// gain, failed snapshots, every process tried once, and one finished per release.
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/fake/fakememory.h"
#include "platform/platform.h"
#include "testprocs.h"

#include <QTest>
#include <QThread>

#include <unistd.h>

using vb::platform::MemoryStatus;
using vb::platform::fake::FakeSystemMemory;
using vb::platform::fake::FakeWorkingSets;

namespace {
FakeSystemMemory::Reading freeBytes(quint64 bytes, bool ok = true)
{
    FakeSystemMemory::Reading r;
    r.ok = ok;
    r.status.totalPhysBytes = quint64(8) << 30;
    r.status.freePhysBytes = bytes;
    r.status.availPhysBytes = bytes;
    return r;
}
} // namespace

class TestRelease : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void minimumDurationAndGain_data();
    void minimumDurationAndGain();
    void everyProcessTriedOnce();
    void unreadableIdsEmptyNothing();
    void threadEmitsOnceThenLetsGo();
    void noMemoryFiguresStillTakesItsTime();

private:
    vb::memory::ReleaseBackends backends() const { return {m_memory, m_procs, m_sets}; }

    std::shared_ptr<FakeSystemMemory> m_memory;
    std::shared_ptr<FakeWorkingSets> m_sets;
    std::shared_ptr<vbtest::ListedProcesses> m_procs;
};

void TestRelease::init()
{
    m_memory = std::make_shared<FakeSystemMemory>();
    m_sets = std::make_shared<FakeWorkingSets>();
    m_procs = std::make_shared<vbtest::ListedProcesses>();
}

void TestRelease::minimumDurationAndGain_data()
{
    QTest::addColumn<uint>("startTick");
    QTest::addColumn<uint>("emptyingMs");
    QTest::addColumn<quint64>("before");
    QTest::addColumn<quint64>("after");
    QTest::addColumn<bool>("beforeOk");
    QTest::addColumn<bool>("afterOk");
    QTest::addColumn<QList<uint>>("sleeps");
    QTest::addColumn<quint64>("gain");

    const quint64 MiB = 1 << 20;
    auto row = [](const char* name, uint start, uint emptying, quint64 before, quint64 after,
                  bool beforeOk, bool afterOk, QList<uint> sleeps, quint64 gain) {
        QTest::newRow(name) << start << emptying << before << after << beforeOk << afterOk << sleeps
                            << gain;
    };
    row("idle machine, 200 ms", 1000, 200, 100 * MiB, 180 * MiB, true, true, {2800}, 80 * MiB);
    row("emptying takes 4000 ms: no sleep", 1000, 4000, 100 * MiB, 101 * MiB, true, true, {}, MiB);
    row("exactly 3000 ms", 0, 3000, 5, 6, true, true, {}, 1);
    row("2999 ms", 0, 2999, 5, 6, true, true, {1}, 1);
    row("tick counter wraps", 0xFFFFFF00u, 0x200, 5, 5, true, true, {3000 - 0x200}, 0);
    row("free memory fell", 0, 10, 500 * MiB, 400 * MiB, true, true, {2990}, 0);
    row("no change", 0, 10, 500 * MiB, 500 * MiB, true, true, {2990}, 0);
    row("before unreadable", 0, 10, 0, 500 * MiB, false, true, {2990}, 0);
    row("after unreadable", 0, 10, 500 * MiB, 0, true, false, {2990}, 0);
}

void TestRelease::minimumDurationAndGain()
{
    QFETCH(uint, startTick);
    QFETCH(uint, emptyingMs);
    QFETCH(quint64, before);
    QFETCH(quint64, after);
    QFETCH(bool, beforeOk);
    QFETCH(bool, afterOk);
    QFETCH(QList<uint>, sleeps);
    QFETCH(quint64, gain);
    m_memory->setTick(startTick);
    m_memory->script({freeBytes(before, beforeOk), freeBytes(after, afterOk)});
    int emptied = 0;
    const quint64 got = vb::memory::releaseMemory(*m_memory, [&] {
        ++emptied;
        QCOMPARE(m_memory->statusCalls(), 1); // between the snapshots
        m_memory->advance(emptyingMs);
    });
    QCOMPARE(emptied, 1);
    QCOMPARE(m_memory->statusCalls(), 2);
    QCOMPARE(got, gain);
    const auto s = m_memory->sleeps();
    QCOMPARE(QList<uint>(s.begin(), s.end()), sleeps);
}

void TestRelease::everyProcessTriedOnce()
{
    const auto self = static_cast<uint32_t>(::getpid());
    m_procs->ids = {4, 17, self, 99, 1000};
    m_sets->denied = {17, 99}; // protected or another user's: skipped, the rest goes on
    emptyAllWorkingSets(m_procs, m_sets);
    QCOMPARE(m_sets->tried(), (std::vector<uint32_t>{4, 17, self, 99, 1000}));
    QCOMPARE(m_sets->emptied(), (std::vector<uint32_t>{4, self, 1000}));
}

void TestRelease::unreadableIdsEmptyNothing()
{
    m_procs->fail = true;
    m_memory->script({freeBytes(1000), freeBytes(3000)});
    const quint64 gain =
        vb::memory::releaseMemory(*m_memory, [this] { emptyAllWorkingSets(m_procs, m_sets); });
    QVERIFY(m_sets->tried().empty());
    QCOMPARE(gain, quint64(2000)); // still the difference of the snapshots
    QCOMPARE(m_memory->sleeps(), std::vector<uint32_t>{3000});
}

void TestRelease::threadEmitsOnceThenLetsGo()
{
    m_procs->ids = {static_cast<uint32_t>(::getpid())};
    m_memory->script({freeBytes(quint64(1) << 30), freeBytes((quint64(1) << 30) + 12345)});
    std::mutex mutex;
    QStringList order;
    QThread* emitter = nullptr;
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    connect(
        notifier.get(), &EmptingMemorySetNotifyer::finished, notifier.get(),
        [&](quint64 bytes) {
            std::lock_guard<std::mutex> l(mutex);
            order << QStringLiteral("finished %1").arg(bytes);
            emitter = QThread::currentThread();
        },
        Qt::DirectConnection);
    connect(
        notifier.get(), &QObject::destroyed, notifier.get(),
        [&] {
            std::lock_guard<std::mutex> l(mutex);
            order << QStringLiteral("destroyed");
        },
        Qt::DirectConnection);
    QVERIFY(vb::memory::startEmptingMemorySet(notifier, backends()));
    notifier.reset();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            std::lock_guard<std::mutex> l(mutex);
            return order.size() == 2;
        }(),
        10000);
    std::lock_guard<std::mutex> l(mutex);
    QCOMPARE(order, (QStringList{QStringLiteral("finished 12345"), QStringLiteral("destroyed")}));
    QVERIFY(emitter && emitter != QThread::currentThread()); // from the release thread
    QCOMPARE(m_sets->emptied(), std::vector<uint32_t>{static_cast<uint32_t>(::getpid())});
    QCOMPARE(m_memory->sleeps(), std::vector<uint32_t>{3000});
}

void TestRelease::noMemoryFiguresStillTakesItsTime()
{
    // Nothing scripted: both snapshots fail, and the gain is 0, not all of memory.
    m_procs->ids = {1};
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    QList<quint64> finished; // delivered queued, in this thread, as the ball gets it
    QObject receiver;
    connect(notifier.get(), &EmptingMemorySetNotifyer::finished, &receiver,
            [&](quint64 bytes) { finished << bytes; });
    QVERIFY(vb::memory::startEmptingMemorySet(std::move(notifier), backends()));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.at(0), quint64(0));
    QCOMPARE(m_sets->tried(), std::vector<uint32_t>{1});
    QCOMPARE(m_memory->sleeps(), std::vector<uint32_t>{3000});
}

QTEST_GUILESS_MAIN(TestRelease)
#include "tst_release.moc"

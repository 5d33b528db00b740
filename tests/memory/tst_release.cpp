// SPDX-License-Identifier: GPL-3.0-or-later
// The release thread on a scripted clock: the 3000 ms minimum, the gain as the emptied
// processes measured it (never the machine's drifting free memory), every process tried once,
// and one finished per release.
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
    void gainOfTheEmptiedProcesses_data();
    void gainOfTheEmptiedProcesses();
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
    QTest::addColumn<QList<uint>>("sleeps");

    QTest::newRow("idle machine, 200 ms") << 1000u << 200u << QList<uint>{2800};
    QTest::newRow("emptying takes 4000 ms: no sleep") << 1000u << 4000u << QList<uint>{};
    QTest::newRow("exactly 3000 ms") << 0u << 3000u << QList<uint>{};
    QTest::newRow("2999 ms") << 0u << 2999u << QList<uint>{1};
    QTest::newRow("tick counter wraps") << 0xFFFFFF00u << 0x200u << QList<uint>{3000 - 0x200};
}

void TestRelease::minimumDurationAndGain()
{
    QFETCH(uint, startTick);
    QFETCH(uint, emptyingMs);
    QFETCH(QList<uint>, sleeps);
    m_memory->setTick(startTick);
    int emptied = 0;
    const quint64 got = vb::memory::releaseMemory(*m_memory, [&] {
        ++emptied;
        m_memory->advance(emptyingMs);
        return quint64(4242);
    });
    QCOMPARE(emptied, 1);
    QCOMPARE(got, quint64(4242)); // what the emptying measured, after the wait
    const auto s = m_memory->sleeps();
    QCOMPARE(QList<uint>(s.begin(), s.end()), sleeps);
}

void TestRelease::gainOfTheEmptiedProcesses_data()
{
    QTest::addColumn<QList<quint64>>("released"); // by processes 4, 17, 99, 1000
    QTest::addColumn<qint64>("freeDrift");        // the machine's free memory meanwhile
    QTest::addColumn<quint64>("gain");

    const quint64 MiB = 1 << 20;
    QTest::newRow("the sum of what each gave up")
        << QList<quint64>{MiB, 0, 2 * MiB, 5} << qint64(0) << 3 * MiB + 5;
    QTest::newRow("nothing paged out while free memory grew by 8 MiB")
        << QList<quint64>{0, 0, 0, 0} << qint64(8 * MiB) << quint64(0);
    QTest::newRow("pages out while free memory fell")
        << QList<quint64>{0, 0, 0, 7 * MiB} << -qint64(300 * MiB) << 7 * MiB;
    QTest::newRow("a process not to touch gives nothing")
        << QList<quint64>{0, 9 * MiB, 0, 0} << qint64(0) << quint64(0);
}

void TestRelease::gainOfTheEmptiedProcesses()
{
    QFETCH(QList<quint64>, released);
    QFETCH(qint64, freeDrift);
    QFETCH(quint64, gain);
    const std::vector<uint32_t> ids{4, 17, 99, 1000};
    m_procs->ids = ids;
    m_sets->denied = {17};
    for (size_t i = 0; i < ids.size(); ++i)
        m_sets->released[ids[i]] = released.at(int(i));
    const quint64 base = quint64(4) << 30;
    m_memory->script({freeBytes(base), freeBytes(quint64(qint64(base) + freeDrift))});
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    QList<quint64> finished;
    QObject receiver;
    connect(notifier.get(), &EmptingMemorySetNotifyer::finished, &receiver,
            [&](quint64 bytes) { finished << bytes; });
    vb::memory::runEmptingMemorySet(std::move(notifier), backends());
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0), gain);
    QCOMPARE(m_memory->statusCalls(), 0);
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
    m_memory->script({freeBytes(1000), freeBytes(3000 << 20)});
    const quint64 gain = vb::memory::releaseMemory(
        *m_memory, [this] { return emptyAllWorkingSets(m_procs, m_sets); });
    QVERIFY(m_sets->tried().empty());
    QCOMPARE(gain, quint64(0));
    QCOMPARE(m_memory->sleeps(), std::vector<uint32_t>{3000});
}

void TestRelease::threadEmitsOnceThenLetsGo()
{
    m_procs->ids = {static_cast<uint32_t>(::getpid())};
    m_sets->released[static_cast<uint32_t>(::getpid())] = 12345;
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
    // Nothing scripted: the machine's figures cannot be read, which the release never needs.
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

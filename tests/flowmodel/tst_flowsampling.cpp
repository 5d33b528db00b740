// SPDX-License-Identifier: GPL-3.0-or-later
// The sampling worker's pieces: one reading turned into rows, the process set watcher, and
// the loop itself on its thread against a scripted device, through to the model.
#include "../lib/heldchild.h"
#include "core/threadhandoff.h"
#include "flow/flowdatalist.h"
#include "flow/flowdatanotifier.h"
#include "helper/setsgeneral.h"
#include "platform/fake/fakefilter.h"
#include "platform/fake/fakenetworkstate.h"
#include "platform/platform.h"
#include "procs/processjudge.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
using Item = vb::platform::fake::ScriptedFilterDevice::Item;

ConnectionDataItem live(quint64 pid, quint64 in, quint64 out)
{
    ConnectionDataItem c;
    c.processId = pid;
    c.bytesIn = in;
    c.bytesOut = out;
    return c;
}

ConnectionDataHistoryItem history(quint64 pid, quint64 in, quint64 out)
{
    return ConnectionDataHistoryItem{pid, in, out};
}

// Fixed memory figures and a tick counter the test may move.
class StillMemory : public vb::platform::ISystemMemory
{
public:
    std::atomic<uint32_t> load{42};
    std::atomic<long> workerSlackNs{-1}; // the timer slack of the thread that samples
    bool memoryStatus(vb::platform::MemoryStatus& out) override
    {
        out.memoryLoad = load;
        out.availPhysBytes = quint64(3) << 30;
        out.totalPhysBytes = quint64(8) << 30;
        return true;
    }
    bool systemTimes(vb::platform::SystemTimes& out) override
    {
#if defined(__linux__)
        workerSlackNs = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
#endif
        const uint64_t t = ++m_calls * 1000;
        out = {t / 2, t / 2 + t / 4, t / 4}; // always half busy
        return true;
    }
    uint32_t tickCountMs() override
    {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    void sleepMs(uint32_t ms) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    std::atomic<uint64_t> m_calls{0};
};

struct Row
{
    quint64 pid;
    uint count;
    quint64 in, inDelta, out, outDelta;
    bool dead;
};

QList<Row> rowsOf(const FlowDataList_ptr& list)
{
    QList<Row> out;
    for (const FlowDataProc& p : *list)
        out.append(Row{p.pid, p.connectionCount, p.flowIn, p.flowInDelta, p.flowOut, p.flowOutDelta,
                       p.dead});
    return out;
}

bool operator==(const Row& a, const Row& b)
{
    return a.pid == b.pid && a.count == b.count && a.in == b.in && a.inDelta == b.inDelta &&
           a.out == b.out && a.outDelta == b.outDelta && a.dead == b.dead;
}
} // namespace

namespace QTest {
template <> char* toString(const Row& r)
{
    return qstrdup(QStringLiteral("{pid %1 n %2 in %3 +%4 out %5 +%6%7}")
                       .arg(r.pid)
                       .arg(r.count)
                       .arg(r.in)
                       .arg(r.inDelta)
                       .arg(r.out)
                       .arg(r.outDelta)
                       .arg(r.dead ? QStringLiteral(" dead") : QString())
                       .toUtf8()
                       .constData());
}
} // namespace QTest

// The worker emits from its own thread and QSignalSpy records where a signal is emitted, so a
// spy on the notifier itself would change its list while the test reads it. The relay takes
// the signals queued, as the model does, and a spy on it records in the test's thread.
class Relay : public QObject
{
    Q_OBJECT
public:
    explicit Relay(FlowDataNotifier* notifier)
    {
        connect(notifier, &FlowDataNotifier::dataFound, this, &Relay::dataFound,
                Qt::QueuedConnection);
        connect(notifier, &FlowDataNotifier::processChanged, this, &Relay::processChanged,
                Qt::QueuedConnection);
    }
    bool event(QEvent* e) override
    {
        vb::core::handoffTaken();
        return QObject::event(e);
    }
Q_SIGNALS:
    void dataFound(FlowDataList_ptr list, TotalMemoryCpuFlowInfo_ptr info, bool connected);
    void processChanged();
};

class TestFlowSampling : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void firstReadingHasNoSpeeds();
    void deltasAgainstThePreviousReading();
    void deadProcessesComeLastAndAreNotCarriedOver();
    void intervalSurvivesTheTickWrap();
    void watcherSeesStartsAndExits();
    void watcherFallsBackWhenIdsCannotBeRead();
    void watcherReadsIdsOnlyWhenTheStampMoves();
    void watcherOnTheRealMachine();
    void workerWithoutDevice();
    void workerWithDevice();
    void workerOutlivesTheDevice();
    void failedReadsAreSkipped();
    void modelFollowsTheWorker();
    void configurationIsLoadedOnceAtStart();

private:
    FlowSamplingSetup setup();
    std::shared_ptr<vb::platform::fake::ScriptedFilterDevice> m_device;
    std::shared_ptr<StillMemory> m_memory;
    std::shared_ptr<vb::platform::fake::FakeNetworkState> m_network;
    std::atomic<int> m_provisioned{0};
};

void TestFlowSampling::init()
{
    m_device = std::make_shared<vb::platform::fake::ScriptedFilterDevice>();
    m_device->script->useTables = true;
    m_device->caseSensitive = true;
    m_memory = std::make_shared<StillMemory>();
    m_network = std::make_shared<vb::platform::fake::FakeNetworkState>();
    m_provisioned = 0;
    resetProcessPathCache();
}

FlowSamplingSetup TestFlowSampling::setup()
{
    FlowSamplingSetup s;
    auto device = m_device;
    s.openFilter = [device] { return std::make_unique<PSFilter>(device); };
    s.paths.device = device; // the path cache asks it too
    s.memory = m_memory;
    s.network = m_network;
    s.provision = [this] {
        ++m_provisioned;
        return false;
    };
    s.loadConfig = [] {};
    s.enumerate = [](const std::function<bool(vb::platform::ProcessId)>& cb) {
        cb(1);
        return true;
    };
    s.periodMs = 30;
    return s;
}

void TestFlowSampling::firstReadingHasNoSpeeds()
{
    TrafficSampleBuilder b({m_device, {}});
    TotalMemoryCpuFlowInfo info;
    b.begin();
    b.addConnection(live(20, 100, 10));
    b.addConnection(live(10, 5, 6));
    b.addConnection(live(20, 50, 20));
    b.addHistory(history(20, 1000, 2000));
    const auto rows = b.finish(5000, info);
    QCOMPARE(rowsOf(rows),
             (QList<Row>{{10, 1, 5, 0, 6, 0, false}, {20, 2, 1150, 0, 2030, 0, false}}));
    for (const FlowDataProc& p : *rows)
        QCOMPARE(p.intervalMs, 0u);
    QCOMPARE(info.intervalMs, 0u);
    QCOMPARE(info.flowIn, quint64(1155));
    QCOMPARE(info.flowOut, quint64(2036));
    QCOMPARE(info.flowInDelta, quint64(0));
    QCOMPARE(info.flowOutDelta, quint64(0));
}

void TestFlowSampling::deltasAgainstThePreviousReading()
{
    TrafficSampleBuilder b({m_device, {}});
    TotalMemoryCpuFlowInfo first, second;
    b.begin();
    b.addConnection(live(10, 100, 100));
    b.addConnection(live(11, 500, 500));
    b.addConnection(live(12, 7, 7));
    b.finish(1000, first);

    b.begin();
    b.addConnection(live(10, 1124, 300)); // grew
    b.addConnection(live(11, 400, 500));  // in went backwards, out unchanged
    b.addConnection(live(12, 7, 7));      // unchanged
    b.addConnection(live(13, 9, 9));      // new: no speed yet
    const auto rows = b.finish(2040, second);
    QCOMPARE(rowsOf(rows), (QList<Row>{{10, 1, 1124, 1024, 300, 200, false},
                                       {11, 1, 400, 0, 500, 0, false},
                                       {12, 1, 7, 0, 7, 0, false},
                                       {13, 1, 9, 0, 9, 0, false}}));
    for (const FlowDataProc& p : *rows)
        QCOMPARE(p.intervalMs, 1040u);
    QCOMPARE(second.intervalMs, 1040u);
    QCOMPARE(second.flowInDelta, quint64(1024));
    QCOMPARE(second.flowOutDelta, quint64(200));
    QCOMPARE(second.flowIn, quint64(1124 + 400 + 7 + 9));
    QCOMPARE(FlowDataList::speedText(rows->at(0).flowInDelta, rows->at(0).intervalMs),
             QStringLiteral("984.62 B/s"));
}

void TestFlowSampling::deadProcessesComeLastAndAreNotCarriedOver()
{
    TrafficSampleBuilder b({m_device, {}});
    TotalMemoryCpuFlowInfo a, c, d;
    b.begin();
    b.addConnection(live(50, 10, 10));
    b.addConnection(live(5, 1, 1));
    b.finish(100, a);

    // 50's connections closed; only its history remains, twice reported: the first counts.
    b.begin();
    b.addConnection(live(5, 2, 2));
    b.addHistory(history(50, 30, 40));
    b.addHistory(history(50, 999, 999));
    b.addHistory(history(3, 8, 9));
    const auto rows = b.finish(1100, c);
    QCOMPARE(rowsOf(rows), (QList<Row>{{5, 1, 2, 1, 2, 1, false},
                                       {3, 0, 8, 0, 9, 0, true},
                                       {50, 0, 30, 0, 40, 0, true}}));
    QCOMPARE(rows->at(1).intervalMs, 0u);
    QCOMPARE(c.flowIn, quint64(2 + 8 + 30));
    QCOMPARE(c.flowInDelta, quint64(1));

    // 50 opens a connection again: it was not carried over, so it starts at speed 0.
    b.begin();
    b.addConnection(live(50, 5, 5));
    b.addHistory(history(50, 30, 40));
    const auto again = b.finish(2100, d);
    QCOMPARE(rowsOf(again), (QList<Row>{{50, 1, 35, 0, 45, 0, false}}));
}

void TestFlowSampling::intervalSurvivesTheTickWrap()
{
    TrafficSampleBuilder b({m_device, {}});
    TotalMemoryCpuFlowInfo a, c;
    b.begin();
    b.addConnection(live(1, 0, 0));
    b.finish(0xFFFFFF00u, a);
    b.begin();
    b.addConnection(live(1, 1000, 0));
    b.finish(0x000002E8u, c); // 1000 ms later, past the wrap
    QCOMPARE(c.intervalMs, 1000u);
    QCOMPARE(c.flowInDelta, quint64(1000));
}

void TestFlowSampling::watcherSeesStartsAndExits()
{
    std::set<vb::platform::ProcessId> running{1, 2, 3};
    bool backwards = false;
    ProcessSetWatcher w(
        [&running, &backwards](const std::function<bool(vb::platform::ProcessId)>& cb) {
            if (backwards)
                std::for_each(running.rbegin(), running.rend(), cb);
            else
                std::for_each(running.begin(), running.end(), cb);
            return true;
        },
        [] { return 0u; });
    w.start();
    w.changed();
    QVERIFY(!w.changed());
    backwards = true; // the same processes listed in another order
    QVERIFY(!w.changed());
    backwards = false;
    running.insert(9);
    QVERIFY(w.changed());
    QVERIFY(!w.changed());
    running.erase(2);
    QVERIFY(w.changed());
    running = {1, 3, 4}; // one exited and another started: same size, still a change
    QVERIFY(w.changed());
    QCOMPARE(w.ids(), (std::vector<uint32_t>{1, 3, 4}));
}

void TestFlowSampling::watcherFallsBackWhenIdsCannotBeRead()
{
    bool readable = true;
    uint32_t now = 500;
    ProcessSetWatcher w(
        [&readable](const std::function<bool(vb::platform::ProcessId)>& cb) {
            if (!readable)
                return false;
            cb(7);
            return true;
        },
        [&now] { return now; });
    w.start();
    w.changed();
    readable = false;
    // One call a second: nothing for ten seconds, then a change, then ten quiet seconds again.
    QList<int> reported;
    for (int second = 1; second <= 25; ++second) {
        now += 1000;
        if (w.changed())
            reported.append(second);
    }
    QCOMPARE(reported, (QList<int>{11, 22}));
    QCOMPARE(w.ids(), (std::vector<uint32_t>{7})); // the last good set stays
    readable = true;
    QVERIFY(!w.changed());
}

void TestFlowSampling::watcherReadsIdsOnlyWhenTheStampMoves()
{
    std::set<vb::platform::ProcessId> running{1, 2};
    bool readable = true;
    int reads = 0;
    uint32_t now = 0;
    std::optional<vb::platform::TaskStamp> stamp = vb::platform::TaskStamp{10, 2};
    ProcessSetWatcher w(
        [&](const std::function<bool(vb::platform::ProcessId)>& cb) {
            ++reads;
            std::for_each(running.begin(), running.end(), cb);
            return readable;
        },
        [&now] { return now; }, [&stamp] { return stamp; });
    w.start();
    w.changed();
    QCOMPARE(reads, 1);
    now += ProcessSetWatcher::kStampTrustMs - 1;
    QVERIFY(!w.changed());
    QCOMPARE(reads, 1); // the stamp stood still
    // A change the stamp missed is found once it has stood still for long enough.
    running.insert(4);
    now += 1;
    QVERIFY(w.changed());
    QCOMPARE(reads, 2);
    running.erase(4);
    running.insert(3);
    stamp = vb::platform::TaskStamp{11, 3};
    QVERIFY(w.changed());
    QCOMPARE(reads, 3);
    // A failed reading is no reading to trust, whatever the stamp says afterwards.
    stamp = vb::platform::TaskStamp{12, 3};
    readable = false;
    w.changed();
    readable = true;
    running.erase(1);
    QVERIFY(w.changed());
    QCOMPARE(reads, 5);
    // Without a stamp the ids are read every time.
    stamp.reset();
    QVERIFY(!w.changed());
    QVERIFY(!w.changed());
    QCOMPARE(reads, 7);
    QCOMPARE(w.ids(), (std::vector<uint32_t>{2, 3}));
}

void TestFlowSampling::watcherOnTheRealMachine()
{
    // The kernel's own stamp: it must move for every start and exit, also for an exit and a
    // start within one cycle.
    const auto processes = vb::platform::makeNative().processes;
    ProcessSetWatcher w(processIdsOf(processes), {}, taskStampOf(processes));
    w.start();
    w.changed();
    QVERIFY(processes->taskStamp());
    const auto end = [](pid_t child) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    };
    const auto has = [&w](pid_t pid) {
        return std::binary_search(w.ids().begin(), w.ids().end(), uint32_t(pid));
    };
    const pid_t first = forkPaused();
    QVERIFY(first > 0);
    const bool started = w.changed();
    const bool seen = has(first);
    end(first);
    const pid_t second = forkPaused();
    const bool swapped = w.changed();
    const bool swapSeen = !has(first) && has(second);
    if (second > 0)
        end(second);
    QVERIFY(started);
    QVERIFY(seen);
    QVERIFY(second > 0);
    QVERIFY(swapped);
    QVERIFY(swapSeen);
    QVERIFY(w.changed());
    QVERIFY(!has(second));
}

void TestFlowSampling::workerWithoutDevice()
{
    m_device->setPresent(false);
    m_network->connected = true;
    std::atomic<int> pass{0};
    auto s = setup();
    s.enumerate = [&pass](const std::function<bool(vb::platform::ProcessId)>& cb) {
        cb(1);
        if (pass++ >= 3)
            cb(2); // a process starts after a few cycles
        return true;
    };
    auto notifier = std::make_shared<FlowDataNotifier>();
    Relay relay(notifier.get());
    QSignalSpy found(&relay, &Relay::dataFound);
    QSignalSpy changed(&relay, &Relay::processChanged);
    boost::thread worker = startFlowSampling(notifier, s);
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 5, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(changed.size() >= 1, 10000);
    worker.interrupt();
    worker.join();
    for (const auto& args : found) {
        QVERIFY(!args[0].value<FlowDataList_ptr>());
        const auto info = args[1].value<TotalMemoryCpuFlowInfo_ptr>();
        QVERIFY(info);
        QCOMPARE(info->memoryLoad, 42u);
        QCOMPARE(info->cpuUsage, 50u);
        QCOMPARE(info->intervalMs, 0u);
        QCOMPARE(args[2].toBool(), true);
    }
    QCOMPARE(changed.size(), 1);
    QVERIFY(m_provisioned >= 5);
    std::lock_guard<std::mutex> g(m_device->lock());
    QCOMPARE(m_device->script->connectionReads, 0);
}

void TestFlowSampling::workerWithDevice()
{
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        m_device->script->items = {{40, false, 100, 10}, {40, false, 50, 5}, {41, true, 7, 8}};
        m_device->script->paths = {{40, "/usr/bin/curl"}, {41, "System"}};
    }
    auto notifier = std::make_shared<FlowDataNotifier>();
    Relay relay(notifier.get());
    QSignalSpy found(&relay, &Relay::dataFound);
    boost::thread worker = startFlowSampling(notifier, setup());
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 1, 10000);
    m_device->set({{40, false, 1100, 10}, {40, false, 50, 1029}, {41, true, 7, 8}});
    // Samples read before the change may still be on their way: wait for one that saw it.
    const auto grown = [&found] {
        for (int i = 1; i < found.size(); ++i) {
            const auto rows = found[i][0].value<FlowDataList_ptr>();
            if (rows && !rows->isEmpty() && rows->at(0).flowInDelta == 1000)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 3 && grown(), 10000);
    worker.interrupt();
    worker.join();
    QCOMPARE(m_provisioned.load(), 0);
#if defined(__linux__)
    QCOMPARE(m_memory->workerSlackNs.load(), 30L * 1000000 / 20); // a twentieth of the period
#endif

    const auto first = found[0][0].value<FlowDataList_ptr>();
    QVERIFY(first);
    QCOMPARE(rowsOf(first), (QList<Row>{{40, 2, 150, 0, 15, 0, false}, {41, 0, 7, 0, 8, 0, true}}));
    QCOMPARE(first->at(0).path, QStringLiteral("/usr/bin/curl"));
    QVERIFY(first->at(1).system);
    QCOMPARE(found[0][1].value<TotalMemoryCpuFlowInfo_ptr>()->intervalMs, 0u);

    // Find the sample that saw the growth (the change may fall between two cycles' reads).
    bool sawGrowth = false;
    for (int i = 1; i < found.size(); ++i) {
        const auto rows = found[i][0].value<FlowDataList_ptr>();
        const auto info = found[i][1].value<TotalMemoryCpuFlowInfo_ptr>();
        QVERIFY(rows && info);
        QVERIFY(info->intervalMs > 0);
        QCOMPARE(rows->at(0).intervalMs, info->intervalMs);
        QCOMPARE(info->memoryLoad, 42u);
        if (rows->at(0).flowInDelta == 1000) {
            sawGrowth = true;
            QCOMPARE(rows->at(0).flowOutDelta, quint64(1024));
            QCOMPARE(info->flowInDelta, quint64(1000));
            QCOMPARE(info->flowIn, quint64(1150 + 7));
        }
    }
    QVERIFY(sawGrowth);
}

void TestFlowSampling::workerOutlivesTheDevice()
{
    m_device->set({{60, false, 10, 10}});
    auto notifier = std::make_shared<FlowDataNotifier>();
    Relay relay(notifier.get());
    QSignalSpy found(&relay, &Relay::dataFound);
    boost::thread worker = startFlowSampling(notifier, setup());
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 2, 10000);
    QVERIFY(found.last()[0].value<FlowDataList_ptr>()->size() == 1);

    // The service goes away: one sample empties the rows, then figures keep coming.
    m_device->setPresent(false);
    const int before = int(found.size());
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= before + 4, 10000);
    int emptied = -1;
    for (int i = before; i < found.size(); ++i) {
        const auto rows = found[i][0].value<FlowDataList_ptr>();
        if (rows && rows->isEmpty() && emptied < 0)
            emptied = i;
        QVERIFY(found[i][1].value<TotalMemoryCpuFlowInfo_ptr>());
    }
    QVERIFY(emptied >= 0);
    for (int i = emptied + 1; i < found.size(); ++i)
        QVERIFY(!found[i][0].value<FlowDataList_ptr>());
    QVERIFY(m_provisioned >= 1);

    // It comes back: rows return, starting again without speeds.
    m_device->set({{60, false, 500, 500}});
    m_device->setPresent(true);
    found.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty() && found.last()[0].value<FlowDataList_ptr>(), 10000);
    worker.interrupt();
    worker.join();
    const auto rows = found.last()[0].value<FlowDataList_ptr>();
    QCOMPARE(rows->size(), 1);
    QCOMPARE(rows->at(0).flowIn, quint64(500));
    int firstBack = 0;
    while (!found[firstBack][0].value<FlowDataList_ptr>())
        ++firstBack;
    QCOMPARE(found[firstBack][0].value<FlowDataList_ptr>()->at(0).flowInDelta, quint64(0));
    QCOMPARE(found[firstBack][1].value<TotalMemoryCpuFlowInfo_ptr>()->intervalMs, 0u);
}

void TestFlowSampling::failedReadsAreSkipped()
{
    m_device->set({{70, false, 10, 10}});
    auto notifier = std::make_shared<FlowDataNotifier>();
    Relay relay(notifier.get());
    QSignalSpy found(&relay, &Relay::dataFound);
    boost::thread worker = startFlowSampling(notifier, setup());
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 2, 10000);
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        m_device->script->failReads = true;
    }
    QTest::qWait(100); // let a cycle that already read finish
    found.clear();
    int readsBefore = 0;
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        readsBefore = m_device->script->connectionReads;
    }
    // The device is there but its reads fail: no sample at all while that lasts.
    QVERIFY(!found.wait(400));
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        QVERIFY(m_device->script->connectionReads >= readsBefore + 3);
        m_device->script->failReads = false;
        m_device->script->items = {{70, false, 20, 10}};
    }
    QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty(), 10000);
    worker.interrupt();
    worker.join();
    // The next good sample's interval spans the skipped cycles.
    const auto info = found[0][1].value<TotalMemoryCpuFlowInfo_ptr>();
    QVERIFY2(info->intervalMs >= 400, qPrintable(QString::number(info->intervalMs)));
    QCOMPARE(found[0][0].value<FlowDataList_ptr>()->at(0).flowInDelta, quint64(10));
    QCOMPARE(m_provisioned.load(), 0);
}

void TestFlowSampling::modelFollowsTheWorker()
{
    m_device->set({{80, false, 10, 10}, {81, false, 10, 10}});
    m_network->connected = true;
    auto model = std::make_unique<FlowDataList>();
    QSignalSpy connected(model.get(), &FlowDataList::networkConnectedChanged);
    QSignalSpy processes(model.get(), &FlowDataList::processChanged);
    std::atomic<int> pass{0};
    auto s = setup();
    s.enumerate = [&pass](const std::function<bool(vb::platform::ProcessId)>& cb) {
        cb(pass++ < 2 ? 1 : 5);
        return true;
    };
    model->startMonitoring(s);
    QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 2, 10000);
    QCOMPARE(model->memoryUsage(), 42u);
    QCOMPARE(model->cpuUsage(), 50u);
    QTRY_VERIFY_WITH_TIMEOUT(processes.size() >= 1, 10000);
    QCOMPARE(connected.size(), 1);
    m_device->set({{80, false, 10, 10}});
    QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 1, 10000);
    // Destroying the model stops its worker; nothing arrives afterwards.
    model.reset();
}

void TestFlowSampling::configurationIsLoadedOnceAtStart()
{
    QTemporaryDir app;
    SetsGeneral::setAppPathForTests(app.path());
    QFile f(app.filePath(QStringLiteral("pulsar.app")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Cups=3\nbluetooth=17\n");
    f.close();
    boost::atomic_store(&currentUserConfig, boost::shared_ptr<JudgeUserConfig>());
    auto s = setup();
    s.loadConfig = nullptr; // the real loading
    auto notifier = std::make_shared<FlowDataNotifier>();
    Relay relay(notifier.get());
    QSignalSpy found(&relay, &Relay::dataFound);
    boost::thread worker = startFlowSampling(notifier, s);
    QVERIFY(found.wait(10000));
    const auto first = boost::atomic_load(&currentUserConfig);
    QVERIFY(first);
    QCOMPARE(first->flagsOf(L"cups"), 3u);
    QCOMPARE(first->flagsOf(L"bluetooth"), 17u);
    // Once only: a changed file is not read again by the running worker.
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("cups=1\n");
    f.close();
    QTRY_VERIFY_WITH_TIMEOUT(found.size() >= 4, 10000);
    worker.interrupt();
    worker.join();
    QCOMPARE(boost::atomic_load(&currentUserConfig), first);
    SetsGeneral::setAppPathForTests(QString());
}

QTEST_GUILESS_MAIN(TestFlowSampling)
#include "tst_flowsampling.moc"

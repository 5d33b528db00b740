// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the Qt Quick tests of the Boost Panel's documents against a real ball and its real
// models (the boost lists and the traffic model) on fake backends with known processes,
// services and traffic. The panel's own view is a stand-in that records what the documents
// call; "Fixture" lets the scripts set the figures, hold a fix and read what reached the
// fakes.
#include "../ballqml/ballfakes.h"
#include "../lib/processfakes.h"
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "flow/flowdatalist.h"
#include "helper/hostenvironment.h"
#include "platform/fake/fakememory.h"
#include "platform/fake/fakeprocs.h"
#include "procs/procdatalist.h"
#include "procs/processjudge.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QtQuickTest>

#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace vb::platform;

namespace {

// Services whose fixes wait at a gate the test opens, so a fix can be held running.
class GatedServices : public fake::FakeServices
{
public:
    void hold(bool on)
    {
        {
            std::lock_guard<std::mutex> l(m_mutex);
            m_held = on;
        }
        m_cv.notify_all();
    }
    std::unique_ptr<IServiceManager> openManager() override
    {
        std::unique_lock<std::mutex> l(m_mutex);
        // Bounded: a test that forgets to open the gate ends the fix after a while.
        m_cv.wait_for(l, std::chrono::seconds(20), [this] { return !m_held; });
        l.unlock();
        return FakeServices::openManager();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
};

constexpr quint64 kMiB = 1024 * 1024;
constexpr quint64 kGiB = 1024 * kMiB;

FlowDataProc flowRow(quint64 pid, const char* path, uint connections, quint64 inDelta,
                     quint64 outDelta)
{
    FlowDataProc r;
    r.pid = pid;
    r.path = QString::fromLatin1(path);
    r.connectionCount = connections;
    r.flowIn = 10 * inDelta;
    r.flowInDelta = inDelta;
    r.flowOut = 10 * outDelta;
    r.flowOutDelta = outDelta;
    r.intervalMs = 1000;
    r.dead = connections == 0;
    return r;
}

} // namespace

class PanelFixture : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString shotDir READ shotDir CONSTANT)
public:
    PanelFixture()
    {
        vb::test::ProcessFakes fakes;
        fakes.procs = m_procs;
        fakes.services = m_services;
        fakes.windows = m_windows;
        m_backends = fakes.into(vb::test::BallFakes().platform());
        m_device->script->useTables = true;
        m_backends.filterDevice = m_device;
        m_ball = std::make_unique<BallViewer>(nullptr, m_backends);
    }
    ~PanelFixture() override { m_services->hold(false); }

    BallViewer* ball() const { return m_ball.get(); }
    // Where the scripts leave their pictures of the panel; none unless asked for.
    QString shotDir() const { return qEnvironmentVariable("VB_PANEL_SHOTS"); }

    // Every test starts from here: the Boost page's Office view, unpinned, both lists
    // enumerated afresh from the known candidates, one known traffic sample.
    Q_INVOKABLE void reset()
    {
        m_services->hold(false);
        m_ball->setIsPopupPined(false);
        m_ball->setCurrentPage(BallViewer::MP_Procgram);
        m_ball->setCurrentProcPage(BallViewer::PP_Office);
        addCandidates();
        for (ProcDataList* list :
             {m_ball->procDataListOffice().get(), m_ball->procDataListGame().get()}) {
            // Emptied first: a new pass keeps the ticks of rows it finds again.
            list->clear();
            list->onProcNeedUpdate();
            list->beginEnum();
        }
        sample(30, 0, 8, true);
        // The model remembers blocks for good: a test that failed half-way must not leave one.
        FlowDataList* flow = m_ball->flowDataList().get();
        for (int row = 0; row < flow->rowCount(); ++row)
            flow->qmlBlock(row, false);
        std::lock_guard<std::mutex> l(m_device->lock());
        m_device->script->requests.clear();
    }

    // One sample of the sampling worker: the system figures given, the known traffic rows.
    Q_INVOKABLE void sample(uint memoryLoad, uint cpuUsage, uint availGiB, bool connected)
    {
        auto info = std::make_shared<TotalMemoryCpuFlowInfo>();
        info->memoryLoad = memoryLoad;
        info->cpuUsage = cpuUsage;
        info->availPhys = availGiB * kGiB;
        info->flowIn = 3 * kMiB / 2;
        info->flowOut = 700;
        info->flowInDelta = 2048;
        info->flowOutDelta = 100;
        info->intervalMs = 1000;
        auto rows = std::make_shared<QList<FlowDataProc>>(QList<FlowDataProc>{
            flowRow(50, "/opt/vbtest/fetcher.bin", 2, 1536, 500),
            flowRow(51, "/opt/vbtest/ended.bin", 0, 0, 0),
            flowRow(52, "/opt/vbtest/syncer.bin", 1, 3 * kMiB, 0),
            flowRow(53, "/opt/vbtest/background-synchronisation-agent.bin", 1, 1048575, 1023),
        });
        m_ball->flowDataList()->onDataFound(rows, info, connected);
    }

    // Fixes wait before they close anything while held.
    Q_INVOKABLE void holdFixes(bool on) { m_services->hold(on); }

    Q_INVOKABLE QStringList stoppedServices() const
    {
        QStringList out;
        for (const std::string& s : m_services->stopped)
            out << QString::fromStdString(s);
        return out;
    }

    // The block and unblock requests the filter device received, as "block <path>".
    Q_INVOKABLE QStringList filterRequests() const
    {
        std::lock_guard<std::mutex> l(m_device->lock());
        QStringList out;
        for (const auto& [code, path] : m_device->script->requests)
            out << (code == vb::filterwire::CodeBlock ? QStringLiteral("block ")
                                                      : QStringLiteral("unblock ")) +
                       QString::fromStdString(path);
        return out;
    }

private:
    // Office advises its service and Game its own; the windowed process is optional in both.
    void addCandidates()
    {
        auto config = boost::shared_ptr<JudgeUserConfig>(new JudgeUserConfig);
        config->add(QStringLiteral("office.service"), CF_Office);
        config->add(QStringLiteral("game.service"), CF_Game);
        boost::atomic_store(&currentUserConfig, config);

        m_services->services.clear();
        m_services->stopped.clear();
        m_procs->procs.clear();
        m_windows->windows.clear();
        addService("office.service", "Office Helper", 30, 3 * kMiB);
        addService("game.service", "", 31, 5 * kMiB);
        m_procs->procs[40] = {"/opt/vbtest/notes.bin", 3 * kMiB / 2};
        m_windows->windows.push_back(fake::window(40, 40));
    }
    void addService(const char* key, const char* display, ProcessId host, quint64 rss)
    {
        m_services->services.push_back(fake::service(key, host, SvcRunning, display));
        m_procs->procs[host] = {"/usr/sbin/daemon", rss};
    }

    std::shared_ptr<fake::FakeProcesses> m_procs = std::make_shared<fake::FakeProcesses>();
    std::shared_ptr<GatedServices> m_services = std::make_shared<GatedServices>();
    std::shared_ptr<fake::FakeWindows> m_windows = std::make_shared<fake::FakeWindows>();
    std::shared_ptr<fake::ScriptedFilterDevice> m_device =
        std::make_shared<fake::ScriptedFilterDevice>();
    Platform m_backends;
    std::unique_ptr<BallViewer> m_ball;
};

class Setup : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void applicationAvailable()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_fixture = std::make_unique<PanelFixture>();
        m_view = std::make_unique<FakeBall>();
        HostEnvironment::instance().translator()->addCatalogue(QStringLiteral("verdantball"));
    }
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        HostEnvironment::instance().attach(engine);
        QQmlContext* ctx = engine->rootContext();
        BallViewer* ball = m_fixture->ball();
        ctx->setContextProperty(QStringLiteral("Bv"), m_view.get());
        ctx->setContextProperty(QStringLiteral("EP"), m_view.get());
        ctx->setContextProperty(QStringLiteral("FlowDataList"), ball->flowDataList().get());
        ctx->setContextProperty(QStringLiteral("ProcDataListOffice"),
                                ball->procDataListOffice().get());
        ctx->setContextProperty(QStringLiteral("ProcDataListGame"), ball->procDataListGame().get());
        ctx->setContextProperty(QStringLiteral("MainView"), ball);
        ctx->setContextProperty(QStringLiteral("Fixture"), m_fixture.get());
    }
    void cleanupTestCase() { HostEnvironment::instance().translator()->setLanguage(QString()); }

private:
    std::unique_ptr<PanelFixture> m_fixture;
    std::unique_ptr<FakeBall> m_view;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_panelview, Setup)
#include "tst_panelview.moc"

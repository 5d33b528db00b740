// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic rows, the process path cache and the filter service's provisioning policy,
// against a scripted device and service.
#include "flow/flowdataproc.h"
#include "flow/psfilter.h"
#include "helper/setsgeneral.h"
#include "platform/fake/fakefilter.h"
#include "platform/platform.h"

#include <QTest>

using namespace vb::platform;
using vb::filterwire::encodePathList;

class TestFlowRecords : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_device = std::make_shared<fake::ScriptedFilterDevice>();
        m_service = std::make_shared<fake::FakeDriverService>();
        m_elevation = std::make_shared<fake::FakeElevation>();
        m_backends = Platform();
        m_backends.filterDevice = m_device;
        m_backends.driverService = m_service;
        m_backends.elevation = m_elevation;
        m_backends.volumes = std::make_shared<fake::FakeVolumes>();
        resetProcessPathCache();
    }

    int pathReads() const
    {
        int n = 0;
        for (const auto& c : m_device->script->calls)
            n += c.code == vb::filterwire::CodeProcessPathsFirst;
        return n;
    }

    void systemFlag_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("system");
        QTest::newRow("System") << "System" << true;
        QTest::newRow("any case") << "sYSTEM" << true;
        QTest::newRow("a path") << "/usr/lib/System" << false;
        QTest::newRow("longer") << "Systems" << false;
        QTest::newRow("unknown") << "" << false;
    }

    void systemFlag()
    {
        QFETCH(QString, path);
        QFETCH(bool, system);
        const auto list =
            path.isEmpty() ? encodePathList({}) : encodePathList({{4, path.toStdString()}});
        m_device->script->replies.push_back({0, list, -1});
        m_device->script->replies.push_back({0, list, -1});
        FlowDataProc row(4, 2, 10, 1, 20, 2, 1000, false, paths());
        QCOMPARE(row.path, path);
        QCOMPARE(row.system, system);
        QCOMPARE(row.connectionCount, 2u);
        QCOMPARE(row.flowIn, quint64(10));
        QCOMPARE(row.flowInDelta, quint64(1));
        QCOMPARE(row.flowOut, quint64(20));
        QCOMPARE(row.flowOutDelta, quint64(2));
        QCOMPARE(row.intervalMs, 1000u);
        QVERIFY(!row.dead);
    }

    void cacheRefreshes()
    {
        const auto list = encodePathList({{10, "/bin/a"}, {11, "/bin/b"}, {10, "/bin/later"}});
        for (int i = 0; i < 4; ++i)
            m_device->script->replies.push_back({0, list, -1});
        // First lookup builds the map once.
        QCOMPARE(QString::fromStdWString(processPath(10, paths())), QStringLiteral("/bin/a"));
        QCOMPARE(pathReads(), 1);
        // A known id needs no refresh.
        QCOMPARE(QString::fromStdWString(processPath(11, paths())), QStringLiteral("/bin/b"));
        QCOMPARE(pathReads(), 1);
        // An unknown id refreshes once when a map exists, and gives an empty path.
        QVERIFY(processPath(99, paths()).empty());
        QCOMPARE(pathReads(), 2);
        // Without a map, an unknown id costs two refreshes.
        resetProcessPathCache();
        QVERIFY(processPath(98, paths()).empty());
        QCOMPARE(pathReads(), 4);
    }

    void refreshPublishesFirstPathOfAnId()
    {
        m_device->script->replies.push_back(
            {0, encodePathList({{7, "/first"}, {7, "/second"}}), -1});
        auto map = refreshProcessPaths(paths());
        QVERIFY(map);
        QCOMPARE(map->size(), size_t(1));
        QCOMPARE(QString::fromStdWString(map->at(7)), QStringLiteral("/first"));
        QCOMPARE(QString::fromStdWString(processPath(7, paths())), QStringLiteral("/first"));
    }

    void noDeviceGivesEmptyMap()
    {
        m_device->allowRead = false;
        m_device->allowWrite = false;
        auto map = refreshProcessPaths(paths());
        QVERIFY(map);
        QVERIFY(map->empty());
        FlowDataProc row(5, 0, 1, 0, 1, 0, 0, true, paths());
        QVERIFY(row.path.isEmpty());
        QVERIFY(row.dead);
        QCOMPARE(row.connectionCount, 0u);
    }

    // ensureDriver's order of attempts, recorded as the service calls it makes.
    void ensureDriverSequence_data()
    {
        QTest::addColumn<int>("initial");     // 0 missing, 1 stopped, 2 running
        QTest::addColumn<bool>("deviceUp");   // the device opens from the start
        QTest::addColumn<bool>("startOpens"); // starting the service makes the device appear
        QTest::addColumn<uint>("installError");
        QTest::addColumn<QString>("log"); // the calls, joined by "|"
        QTest::addColumn<bool>("result");
        QTest::newRow("device already there") << 2 << true << true << 0u << "" << true;
        QTest::newRow("stopped service starts")
            << 1 << false << true << 0u << "start pswfp" << true;
        QTest::newRow("missing service is installed and started")
            << 0 << false << true << 0u
            << "start pswfp|install pswfp /app/wfp/x64/filterd|start pswfp" << true;
        QTest::newRow("started but no device: removed and installed again")
            << 1 << false << false << 0u
            << "start pswfp|remove pswfp|install pswfp /app/wfp/x64/filterd|start pswfp" << true;
        QTest::newRow("install refused twice")
            << 0 << false << false << 5u
            << "start pswfp|install pswfp /app/wfp/x64/filterd|remove pswfp|install pswfp "
               "/app/wfp/x64/filterd"
            << false;
    }

    void ensureDriverSequence()
    {
        QFETCH(int, initial);
        QFETCH(bool, deviceUp);
        QFETCH(bool, startOpens);
        QFETCH(uint, installError);
        QFETCH(QString, log);
        QFETCH(bool, result);
        if (initial > 0)
            m_service->services["pswfp"] =
                initial == 2 ? ServiceState::Running : ServiceState::Stopped;
        m_device->allowRead = m_device->allowWrite = deviceUp;
        if (startOpens)
            m_service->onStarted = [this] { m_device->allowWrite = true; };
        m_service->installError = installError;
        QCOMPARE(ensureDriver(m_backends, L"pswfp", L"/app/wfp/x64/filterd"), result);
        QStringList got;
        for (const auto& l : m_service->log)
            got << QString::fromStdString(l);
        QCOMPARE(got.join(QLatin1Char('|')), log);
    }

    void installTakesAnExistingService()
    {
        m_service->services["pswfp"] = ServiceState::Running;
        QVERIFY(installDriverService(m_backends, L"pswfp", L"/x")); // exists, already running
        QVERIFY(startDriverService(m_backends, L"pswfp"));
        QVERIFY(removeDriverService(m_backends, L"pswfp"));
        QVERIFY(!removeDriverService(m_backends, L"pswfp"));
        QVERIFY(!startDriverService(m_backends, L"pswfp"));
    }

    void provisioningPolicy()
    {
        SetsGeneral::setAppPathForTests(QStringLiteral("/opt/vb"));
        m_device->allowRead = m_device->allowWrite = false;
        m_elevation->elevated = false;
        QVERIFY(!attemptDriverProvisioning(m_backends));
        QVERIFY(m_service->log.empty()); // without rights nothing is touched
        m_elevation->elevated = true;
        attemptDriverProvisioning(m_backends);
        QCOMPARE(QString::fromStdString(m_service->log.at(1)),
                 QStringLiteral("install pswfp /opt/vb/wfp/x86/PSWFP.sys"));
        m_service->log.clear();
        attemptDriverProvisioning(m_backends);
        QCOMPARE(m_service->log, std::vector<std::string>{"start pswfp"});
        SetsGeneral::setAppPathForTests(QString());
    }

private:
    ProcessPathSource paths() const { return {m_backends.filterDevice, m_backends.volumes}; }

    Platform m_backends;
    std::shared_ptr<fake::ScriptedFilterDevice> m_device;
    std::shared_ptr<fake::FakeDriverService> m_service;
    std::shared_ptr<fake::FakeElevation> m_elevation;
};

QTEST_GUILESS_MAIN(TestFlowRecords)
#include "tst_flowrecords.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Services over the D-Bus API of a real systemd; runs inside the test box (test_systemd.sh),
// so the manager's main pids are this process's pids too.
#include "helper/setsgeneral.h"
#include "platform/fake/fakeprocs.h"
#include "platform/linux/identityvolumes.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/systemdservices.h"
#include "procs/candidates.h"
#include "procs/procenum.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "../lib/texts.h"

#include <map>

using namespace vb::platform;

namespace {
QByteArray cgroupOf(ProcessId pid)
{
    QFile f(QStringLiteral("/proc/%1/cgroup").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::map<std::string, ServiceInfo> byKey(const std::vector<ServiceInfo>& list)
{
    std::map<std::string, ServiceInfo> m;
    for (const ServiceInfo& s : list)
        m[s.keyName] = s;
    return m;
}

// Rows of one group as "service" names, in list order.
QStringList servicesIn(const ProcListItems_ptr& rows, JudgeResult group)
{
    QStringList out;
    for (const ProcListItem& r : *rows)
        if (r.kind == PK_Process && r.group == group)
            out << QString::fromStdWString(r.serviceName);
    return out;
}
} // namespace

class TestSystemdServices : public QObject
{
    Q_OBJECT
    std::shared_ptr<linux_::SystemdServices> m_services;
    Platform m_backends;
    QTemporaryDir m_app;

    // Polls (bounded) until the unit reaches the state.
    bool waitFor(const char* unit, ServiceRunState state)
    {
        for (int i = 0; i < 400; ++i) {
            ServiceInfo s;
            if (m_services->queryService(unit, s) == ErrSuccess && s.state == state)
                return true;
            QTest::qWait(25);
        }
        return false;
    }

    // The service keys of the pass, in the manager's order, for one group.
    QStringList managerOrder(const QStringList& keys)
    {
        std::vector<ServiceInfo> list;
        m_services->activeServices(list);
        QStringList out;
        for (const ServiceInfo& s : list)
            if (keys.contains(QString::fromStdString(s.keyName)))
                out << QString::fromStdString(s.keyName);
        return out;
    }

    // The configuration most tests use; rows of a data test write their own.
    void writeMainConfig()
    {
        // Capitals in the file match the small letters of the units.
        QFile f(m_app.filePath(QStringLiteral("pulsar.app")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("VBT-Base.service=3\nvbt-requires.service=17\nvbt-bound.service=2\n"
                "vbt-wants.service=18\nvbt-noname.service=1\nvbt-oneshot.service=3\n"
                "vbt-slow.service=16\nvbt-idle.service=3\ndbus.service =3\n");
        f.close();
        QVERIFY(loadUserConfig());
    }

private Q_SLOTS:
    void cleanup() { writeMainConfig(); }
    void initTestCase()
    {
        m_services = std::make_shared<linux_::SystemdServices>();
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        m_backends.services = m_services;
        m_backends.windows = std::make_shared<fake::FakeWindows>(); // no windows in the box
        m_backends.volumes = std::make_shared<linux_::IdentityVolumes>();
        systemWhiteJudge =
            std::make_shared<JudgeSystemWhite>(m_backends.processes, m_backends.windows);
        SetsGeneral::setAppPathForTests(m_app.path());
        writeMainConfig();
    }

    void listsRunningUnitsWithTheirMainProcesses()
    {
        std::vector<ServiceInfo> list;
        QVERIFY(m_services->activeServices(list));
        const auto units = byKey(list);
        for (const char* unit : {"vbt-base.service", "vbt-requires.service", "vbt-bound.service",
                                 "vbt-wants.service", "vbt-noname.service"}) {
            QVERIFY2(units.count(unit), unit);
            const ServiceInfo& s = units.at(unit);
            QCOMPARE(s.state, SvcRunning);
            QVERIFY2(s.processId > 1, unit);
            // The main pid is the unit's own sleeping process.
            QVERIFY2(cgroupOf(s.processId).contains(QByteArray("/") + unit), unit);
            QCOMPARE(QString::fromStdString(m_backends.processes->imagePath(s.processId)),
                     QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
            // Root reads the process itself: the manager is asked only for what the caller
            // cannot read (an ordinary user's view is test_usersvc.sh's).
            QVERIFY(s.imagePath.empty());
            QVERIFY(!s.memoryBytes);
        }
        QCOMPARE(units.at("vbt-base.service").displayName, std::string("Verdant test base"));
        QVERIFY(units.at("vbt-noname.service").displayName.empty()); // shows its key name
        QCOMPARE(units.at("vbt-oneshot.service").processId, 0u);     // running, no process
        QVERIFY(units.count("dbus.service"));
        QVERIFY(!units.count("vbt-idle.service"));
        QVERIFY(!units.count("dbus.socket")); // services only
    }

    void dependentsAreTheUnitsThatStopWithIt()
    {
        std::vector<ServiceInfo> deps;
        QVERIFY(m_services->activeDependents("vbt-base.service", deps));
        QStringList keys;
        for (const ServiceInfo& d : deps)
            keys << QString::fromStdString(d.keyName);
        keys.sort();
        QCOMPARE(keys, (sl({"vbt-bound.service", "vbt-requires.service"})));
        QVERIFY(m_services->activeDependents("vbt-wants.service", deps));
        QVERIFY(deps.empty());
        QVERIFY(!m_services->activeDependents("vbt-nonexistent.service", deps));
    }

    void statusOfUnitsThatDoNotRun()
    {
        ServiceInfo s;
        QCOMPARE(m_services->queryService("vbt-idle.service", s), 0u);
        QCOMPARE(s.state, SvcStopped);
        QCOMPARE(m_services->queryService("vbt-idle", s), 0u); // the type may be left out
        QCOMPARE(m_services->queryService("vbt-nonexistent.service", s),
                 uint32_t(ErrServiceDoesNotExist));
        QCOMPARE(m_services->stopService("vbt-idle.service"), uint32_t(ErrServiceNotActive));
        QCOMPARE(m_services->stopService("vbt-nonexistent.service"),
                 uint32_t(ErrServiceDoesNotExist));
    }

    void thePassSortsUnitsByTheConfiguration()
    {
        const auto office = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(servicesIn(office, JR_Advice),
                 managerOrder({"vbt-base.service", "vbt-noname.service"}));
        QCOMPARE(servicesIn(office, JR_Optional), sl({"vbt-requires.service"}));
        const auto game = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QCOMPARE(servicesIn(game, JR_Advice),
                 managerOrder({"vbt-base.service", "vbt-bound.service"}));
        QCOMPARE(servicesIn(game, JR_Optional), sl({"vbt-wants.service"}));
        // Rows carry the host process, its image and its memory; headers the totals.
        quint64 advice = 0;
        for (const ProcListItem& r : *office) {
            if (r.kind != PK_Process || r.group != JR_Advice)
                continue;
            QVERIFY(r.isService && r.select && r.memory > 0);
            QCOMPARE(QString::fromStdWString(r.path),
                     QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
            advice += r.memory;
        }
        QCOMPARE(office->front().kind, PK_AdviceHeader);
        QCOMPARE(office->front().memory, advice);
        for (const ProcListItem& r : *office)
            if (r.serviceName == L"vbt-noname.service")
                QVERIFY(r.displayName.empty());
    }

    void whereARunningUnitLands_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: no file at all
        QTest::addColumn<int>("office");      // JudgeResult, 0: not listed
        QTest::addColumn<int>("game");
        QTest::newRow("0x1") << QByteArray("vbt-wants.service=1\n") << 1 << 0;
        QTest::newRow("0x2") << QByteArray("vbt-wants.service=2\n") << 0 << 1;
        QTest::newRow("0x3") << QByteArray("vbt-wants.service=3\n") << 1 << 1;
        QTest::newRow("0x11") << QByteArray("vbt-wants.service=17\n") << 2 << 0;
        QTest::newRow("0x12") << QByteArray("vbt-wants.service=18\n") << 0 << 2;
        QTest::newRow("0x13") << QByteArray("vbt-wants.service=19\n") << 2 << 2;
        QTest::newRow("0x10") << QByteArray("vbt-wants.service=16\n") << 0 << 0;
        QTest::newRow("0") << QByteArray("vbt-wants.service=0\n") << 0 << 0;
        QTest::newRow("absent") << QByteArray("vbt-base.service=3\n") << 0 << 0;
        QTest::newRow("no file") << QByteArray() << 0 << 0;
        QTest::newRow("capitals") << QByteArray("VBT-Wants.Service=3\n") << 1 << 1;
        QTest::newRow("space before =") << QByteArray("vbt-wants.service =3\n") << 0 << 0;
        QTest::newRow("two = signs") << QByteArray("vbt-wants.service=3=3\n") << 0 << 0;
        QTest::newRow("first line wins")
            << QByteArray("vbt-wants.service=1\nvbt-wants.service=2\n") << 1 << 0;
        QTest::newRow("CRLF") << QByteArray("x=1\r\nvbt-wants.service=18\r\n") << 0 << 2;
        QTest::newRow("no final line feed") << QByteArray("x=1\nvbt-wants.service=17") << 2 << 0;
        QTest::newRow("after invalid UTF-8")
            << QByteArray("\xff\xfe=3\nvbt-wants.service=3\n") << 1 << 1;
        QTest::newRow("after binary")
            << QByteArray("\0\x01\x02\n\x7f=\n vbt-wants.service=3\nvbt-wants.service=2\n", 48) << 0
            << 1;
    }
    void whereARunningUnitLands()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, office);
        QFETCH(int, game);
        boost::atomic_store(&currentUserConfig, boost::shared_ptr<JudgeUserConfig>());
        QFile f(m_app.filePath(QStringLiteral("pulsar.app")));
        if (file.isEmpty()) {
            f.remove();
        } else {
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(file);
            f.close();
        }
        loadUserConfig();
        // A windowed process is offered under "Optional" in both modes, whatever the file.
        QProcess app;
        app.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(app.waitForStarted());
        auto windows = std::make_shared<fake::FakeWindows>();
        const TopLevelWindow w = fake::window(1, static_cast<ProcessId>(app.processId()));
        windows->windows = {w};
        m_backends.windows = windows;
        auto where = [&](const ProcListItems_ptr& rows, bool service) {
            for (const ProcListItem& r : *rows)
                if (r.kind == PK_Process && (service ? r.serviceName == L"vbt-wants.service"
                                                     : (!r.isService && r.pid == w.pid)))
                    return int(r.group);
            return 0;
        };
        const auto o = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        const auto g = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        app.kill();
        app.waitForFinished();
        windows->windows.clear();
        QCOMPARE(where(o, true), office);
        QCOMPARE(where(g, true), game);
        QCOMPARE(where(o, false), int(JR_Optional));
        QCOMPARE(where(g, false), int(JR_Optional));
    }

    // A pass serves a unit's main process from the last pass while that process lives; a
    // restart, or a stop and a start, between two passes leaves the listing's columns as they
    // were, and the new main process must still be found.
    void aUnitStartedAgainIsListedWithItsNewMainProcess_data()
    {
        QTest::addColumn<QStringList>("commands"); // systemctl verbs, run in turn
        QTest::newRow("restart") << sl({"restart"});
        QTest::newRow("stop, start") << sl({"stop", "start"});
    }
    void aUnitStartedAgainIsListedWithItsNewMainProcess()
    {
        QFETCH(QStringList, commands);
        const std::string unit = "vbt-wants.service";
        std::vector<ServiceInfo> list;
        QVERIFY(m_services->activeServices(list));
        const ProcessId before = byKey(list)[unit].processId;
        QVERIFY(before > 1);
        QVERIFY(m_services->activeServices(list));
        QCOMPARE(byKey(list)[unit].processId, before);
        for (const QString& verb : commands) {
            QCOMPARE(QProcess::execute(QStringLiteral("systemctl"),
                                       {verb, QString::fromStdString(unit)}),
                     0);
            QVERIFY(m_services->activeServices(list));
            QCOMPARE(byKey(list).count(unit), size_t(verb != QLatin1String("stop")));
        }
        const ServiceInfo now = byKey(list)[unit];
        QCOMPARE(now.state, SvcRunning);
        QVERIFY(now.processId != before);
        QVERIFY(cgroupOf(now.processId).contains("/vbt-wants.service"));
    }

    void stoppingAUnitStopsItsDependents()
    {
        QCOMPARE(m_services->stopService("vbt-base.service"), 0u);
        QVERIFY(waitFor("vbt-base.service", SvcStopped));
        QVERIFY(waitFor("vbt-requires.service", SvcStopped));
        QVERIFY(waitFor("vbt-bound.service", SvcStopped));
        ServiceInfo wants;
        QCOMPARE(m_services->queryService("vbt-wants.service", wants), 0u);
        QCOMPARE(wants.state, SvcRunning);
        const auto game = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QCOMPARE(servicesIn(game, JR_Advice), QStringList());
        QCOMPARE(servicesIn(game, JR_Optional), sl({"vbt-wants.service"}));
    }

    void aStoppingUnitIsNoCandidate()
    {
        QCOMPARE(m_services->stopService("vbt-slow.service"), 0u);
        QVERIFY(waitFor("vbt-slow.service", SvcStopPending));
        std::vector<ServiceInfo> list;
        QVERIFY(m_services->activeServices(list));
        const auto units = byKey(list);
        QVERIFY(units.count("vbt-slow.service"));
        QCOMPARE(units.at("vbt-slow.service").state, SvcStopPending);
        QVERIFY(units.at("vbt-slow.service").waitHintMs > 0);
        bool passed = false;
        enumServiceCandidates(
            m_services, [&](const ServiceInfo& s) { passed |= s.keyName == "vbt-slow.service"; });
        QVERIFY(!passed);
    }

    void aSecondConnectionToTheSameBusWorks()
    {
        const QByteArray address = qgetenv("VB_BOX_BUS");
        linux_::SystemdServices own(address.isEmpty()
                                        ? std::string("unix:path=/run/dbus/system_bus_socket")
                                        : address.toStdString());
        std::vector<ServiceInfo> list;
        QVERIFY(own.activeServices(list));
        QVERIFY(byKey(list).count("vbt-wants.service"));
    }

    void aBusThatComesLaterIsUsedOnceThere()
    {
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("bus"));
        linux_::SystemdServices late("unix:path=" + socket.toStdString());
        std::vector<ServiceInfo> list;
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("no system service manager")));
        QVERIFY(!late.activeServices(list));
        QVERIFY(list.empty());
        QVERIFY(QFile::link(QStringLiteral("/run/dbus/system_bus_socket"), socket));
        QVERIFY(late.activeServices(list));
        QVERIFY(byKey(list).count("vbt-wants.service"));
    }

    void cleanupTestCase() { SetsGeneral::setAppPathForTests(QString()); }
};

QTEST_GUILESS_MAIN(TestSystemdServices)
#include "tst_systemdservices.moc"

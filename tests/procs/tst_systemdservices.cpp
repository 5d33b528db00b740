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
#include <QTemporaryDir>
#include <QtTest>

// Lists of literal texts (the project forbids implicit casts from char strings).
inline QStringList sl(std::initializer_list<const char*> texts)
{
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
}

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

private Q_SLOTS:
    void initTestCase()
    {
        m_services = std::make_shared<linux_::SystemdServices>();
        Platform p;
        p.processes = std::make_shared<linux_::ProcfsProcesses>();
        p.services = m_services;
        p.windows = std::make_shared<fake::FakeWindows>(); // no windows in the box
        p.volumes = std::make_shared<linux_::IdentityVolumes>();
        install(p);
        JudgeSystemWhite::forgetCachedValues();
        SetsGeneral::setAppPathForTests(m_app.path());
        // Capitals in the file match the small letters of the units.
        QFile f(m_app.filePath(QStringLiteral("pulsar.app")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(
            "VBT-Base.service=3\nvbt-requires.service=17\nvbt-bound.service=2\nvbt-wants.service="
            "18\n"
            "vbt-noname.service=1\nvbt-oneshot.service=3\nvbt-slow.service=16\nvbt-idle.service=3\n"
            "dbus.service =3\n");
        f.close();
        QVERIFY(loadUserConfig());
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
            QCOMPARE(QString::fromStdString(current().processes->imagePath(s.processId)),
                     QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
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
        const auto office = enumerateForList(std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(servicesIn(office, JR_Advice),
                 managerOrder({"vbt-base.service", "vbt-noname.service"}));
        QCOMPARE(servicesIn(office, JR_Optional), sl({"vbt-requires.service"}));
        const auto game = enumerateForList(std::make_shared<JudgeUserGame>(), {});
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

    void stoppingAUnitStopsItsDependents()
    {
        QCOMPARE(m_services->stopService("vbt-base.service"), 0u);
        QVERIFY(waitFor("vbt-base.service", SvcStopped));
        QVERIFY(waitFor("vbt-requires.service", SvcStopped));
        QVERIFY(waitFor("vbt-bound.service", SvcStopped));
        ServiceInfo wants;
        QCOMPARE(m_services->queryService("vbt-wants.service", wants), 0u);
        QCOMPARE(wants.state, SvcRunning);
        const auto game = enumerateForList(std::make_shared<JudgeUserGame>(), {});
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
            [&](const ServiceInfo& s) { passed |= s.keyName == "vbt-slow.service"; });
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

    void cleanupTestCase() { SetsGeneral::setAppPathForTests(QString()); }
};

QTEST_GUILESS_MAIN(TestSystemdServices)
#include "tst_systemdservices.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Services as an ordinary desktop user meets them, and as root: run inside the test box by
// test_usersvc.sh, with polkitd, test rules, the user's own systemd instance and an agent.
#include "helper/setsgeneral.h"
#include "platform/fake/fakeprocs.h"
#include "platform/linux/identityvolumes.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/systemdservices.h"
#include "platform/sessionservices.h"
#include "procs/procenum.h"
#include "unitfix.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace vb::platform;
using vb::test::unitRow;

namespace {
const char* const kPolkitUnits[] = {"vbt-pk-grant.service", "vbt-pk-refuse.service",
                                    "vbt-pk-ask.service"};

QString sleepImage()
{
    return QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath();
}

// The processes whose cgroup is the unit's, found without asking any manager.
QList<ProcessId> processesOfUnit(const QString& unit)
{
    QList<ProcessId> out;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& e : entries) {
        bool numeric = false;
        const uint pid = e.toUInt(&numeric);
        QFile f(QStringLiteral("/proc/%1/cgroup").arg(e));
        if (numeric && f.open(QIODevice::ReadOnly) &&
            f.readAll().trimmed().endsWith(QStringLiteral("/%1").arg(unit).toUtf8()))
            out << pid;
    }
    return out;
}
} // namespace

class TestUserServices : public QObject
{
    Q_OBJECT
    Platform m_backends;
    QTemporaryDir m_app;
    const bool m_root = ::geteuid() == 0;

    ServiceRunState state(const char* key)
    {
        ServiceInfo s;
        return m_backends.services->queryService(key, s) == ErrSuccess ? s.state
                                                                       : ServiceRunState(0);
    }
    std::map<std::wstring, ProcListItem> serviceRows(const ProcListItems_ptr& rows)
    {
        std::map<std::wstring, ProcListItem> out;
        for (const ProcListItem& r : *rows)
            if (r.kind == PK_Process && r.isService)
                out[r.serviceName] = r;
        return out;
    }
    // Every polkit test unit listed with its manager's main process and that process's image.
    void checkSystemRows(const std::map<std::wstring, ProcListItem>& rows)
    {
        for (const char* unit : kPolkitUnits) {
            const auto it = rows.find(QString::fromLatin1(unit).toStdWString());
            QVERIFY2(it != rows.end(), unit);
            ServiceInfo s;
            QCOMPARE(m_backends.services->queryService(unit, s), 0u);
            QCOMPARE(it->second.pid, s.processId);
            QCOMPARE(QString::fromStdWString(it->second.path), sleepImage());
            QVERIFY2(it->second.memory > 0 && it->second.select, unit);
            // Root opens the process itself; the user may not, so the manager named it.
            QCOMPARE(m_backends.processes->canOpen(s.processId), m_root);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        m_backends.services = std::make_shared<SystemAndSessionServices>(
            std::make_shared<linux_::SystemdServices>(),
            std::make_shared<linux_::SystemdServices>(std::string(), linux_::ManagerBus::Session));
        m_backends.windows = std::make_shared<fake::FakeWindows>(); // no display in the box
        m_backends.volumes = std::make_shared<linux_::IdentityVolumes>();
        systemWhiteJudge =
            std::make_shared<JudgeSystemWhite>(m_backends.processes, m_backends.windows);
        SetsGeneral::setAppPathForTests(m_app.path());
        QFile f(m_app.filePath(QStringLiteral("pulsar.app")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("vbt-pk-grant.service=1\nvbt-pk-refuse.service=1\nvbt-pk-ask.service=1\n"
                "user:vbt-own.service=1\nvbt-own.service=1\n");
        f.close();
        QVERIFY(loadUserConfig());
    }
    void cleanupTestCase() { SetsGeneral::setAppPathForTests(QString()); }

    void userSeesServicesTheirUnitsAndApplications()
    {
        QVERIFY(!m_root);
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        const auto services = serviceRows(rows);
        checkSystemRows(services);
        // Again, with the main processes and images the first pass learnt.
        checkSystemRows(
            serviceRows(enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {})));
        // The user's own unit, under its prefix only: the system has no such unit.
        QVERIFY(!services.count(L"vbt-own.service"));
        const auto own = services.find(L"user:vbt-own.service");
        QVERIFY(own != services.end());
        QCOMPARE(QList<ProcessId>{own->second.pid},
                 processesOfUnit(QStringLiteral("vbt-own.service")));
        QCOMPARE(QString::fromStdWString(own->second.path), sleepImage());
        // Applications the desktop started in units of their own, with no window to show.
        QList<ProcessId> optional;
        for (const ProcListItem& r : *rows)
            if (r.kind == PK_Process && !r.isService && r.group == JR_Optional)
                optional << r.pid;
        for (const char* unit : {"app-vbt-editor.scope", "app-vbt-viewer.service",
                                 "app-vbt-helper@autostart.service"}) {
            const QList<ProcessId> pids = processesOfUnit(QString::fromLatin1(unit));
            QCOMPARE(pids.size(), 1);
            // What the session's autostart folder started is no application the user opened.
            QVERIFY2(optional.contains(pids.first()) != QByteArray(unit).contains("@autostart"),
                     unit);
        }
    }

    void aFixStopsWhatPolkitAllows()
    {
        QVERIFY(!m_root);
        auto list = vb::test::listOf(
            m_backends, {unitRow("vbt-pk-grant.service"), unitRow("vbt-pk-refuse.service"),
                         unitRow("vbt-pk-ask.service"), unitRow("vbt-pk-ask2.service"),
                         unitRow("user:vbt-own.service"), unitRow("vbt-pk-ask3.service", false)});
        QCOMPARE(vb::test::fixOf(*list), (QPair<uint, quint64>(4, 4000)));
        for (const char* stopped : {"vbt-pk-grant.service", "vbt-pk-ask.service",
                                    "vbt-pk-ask2.service", "user:vbt-own.service"})
            QVERIFY2(state(stopped) == SvcStopped, stopped);
        QCOMPARE(state("vbt-pk-refuse.service"), SvcRunning);
        QCOMPARE(state("vbt-pk-ask3.service"), SvcRunning); // not ticked
    }

    // The agent's prompt left open, or closed by the user: not counted, and neither the GUI
    // thread nor the fix waits for ever.
    void anUnansweredPromptLeavesTheUnitUncounted()
    {
        QVERIFY(!m_root);
        auto list = vb::test::listOf(m_backends, {unitRow("vbt-pk-ask3.service")});
        QSignalSpy result(list.get(), &ProcDataList::fixResultChanged);
        list->beginFix(false);
        QVERIFY(list->isFixing()); // beginFix came back while the prompt is up
        QVERIFY(result.wait(60000));
        QCOMPARE(result[0][0].toUInt(), 0u);
        QCOMPARE(state("vbt-pk-ask3.service"), SvcRunning);
    }

    void rootSeesServicesAndStopsThem()
    {
        QVERIFY(m_root);
        checkSystemRows(
            serviceRows(enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {})));
        auto list = vb::test::listOf(m_backends, {unitRow("vbt-pk-refuse.service")});
        QCOMPARE(vb::test::fixOf(*list).first, 1u);
        QCOMPARE(state("vbt-pk-refuse.service"), SvcStopped);
    }
};

QTEST_GUILESS_MAIN(TestUserServices)
#include "tst_usersvc.moc"

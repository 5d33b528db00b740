// SPDX-License-Identifier: GPL-3.0-or-later
// The enumeration pass: candidates, measuring, mapping, judging, grouping and ticks.
#include "../lib/processfakes.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/systemdservices.h"
#include "platform/sessionservices.h"
#include "procs/candidates.h"
#include "procs/procenum.h"
#include "procs/procfix.h"

#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "../lib/texts.h"

using namespace vb::platform;

namespace {
QStringList g_debug;
QStringList g_warnings; // the categories of the warnings among them
void collect(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtDebugMsg || type == QtWarningMsg)
        g_debug << msg;
    if (type == QtWarningMsg)
        g_warnings << QString::fromLatin1(context.category);
}

using fake::service;
using fake::window;

// One process of the fake as another user sees it through /proc: its resident size and start
// are there for everyone, its image is not.
class AsOtherUser : public IProcesses
{
public:
    AsOtherUser(std::shared_ptr<fake::FakeProcesses> procs, ProcessId pid, uint32_t access)
        : m_procs(std::move(procs)), m_pid(pid), m_access(access)
    {}
    bool processIds(std::vector<ProcessId>& ids) override { return m_procs->processIds(ids); }
    std::string imagePath(ProcessId pid) override
    {
        return pid == m_pid && m_access ? std::string() : m_procs->imagePath(pid);
    }
    std::optional<uint64_t> workingSetBytes(ProcessId pid) override
    {
        return m_procs->workingSetBytes(pid);
    }
    uint32_t queryAccess(ProcessId pid) override
    {
        return pid == m_pid ? m_access : m_procs->queryAccess(pid);
    }
    uint64_t startTime(ProcessId pid) override { return m_procs->startTime(pid); }
    bool terminate(ProcessId pid, uint64_t start, uint32_t waitMs) override
    {
        return m_procs->terminate(pid, start, waitMs);
    }
    ProcessId currentProcessId() override { return m_procs->currentProcessId(); }

private:
    std::shared_ptr<fake::FakeProcesses> m_procs;
    ProcessId m_pid;
    uint32_t m_access;
};

// Counts the calls a pass makes on a judge.
class CountingJudge : public IProcessJudge
{
public:
    int begins = 0, ends = 0, judged = 0;
    JudgeResult answer = JR_NONE;
    JudgeResult judge(const ProcInfo&) override
    {
        ++judged;
        return answer;
    }
    bool isAvailable() override { return true; }
    void beginJudge() override { ++begins; }
    void endJudge() override { ++ends; }
};

// One row as text, so whole lists compare in one line: kind:pid:name:select:memory.
QStringList rowsOf(const ProcListItems_ptr& items)
{
    QStringList out;
    for (const ProcListItem& r : *items) {
        QString name = r.kind == PK_AdviceHeader     ? QStringLiteral("ADVICE")
                       : r.kind == PK_OptionalHeader ? QStringLiteral("OPTIONAL")
                       : r.isService                 ? QString::fromStdWString(r.serviceName)
                                                     : QString::fromStdWString(r.path);
        out << QStringLiteral("%1:%2:%3:%4")
                   .arg(r.pid)
                   .arg(name)
                   .arg(r.select ? 1 : 0)
                   .arg(r.memory);
    }
    return out;
}
} // namespace

class TestProcEnum : public QObject
{
    Q_OBJECT
    vb::test::ProcessFakes m_fakes;
    Platform m_backends;

    // The library makes the shared white judge when it loads; here it judges on the test's own
    // backends.
    void whiteJudgeOnTheBackends()
    {
        systemWhiteJudge =
            std::make_shared<JudgeSystemWhite>(m_backends.processes, m_backends.windows);
    }

private Q_SLOTS:
    void init()
    {
        m_fakes = {};
        m_fakes.procs->self = 9999;
        m_backends = m_fakes.into();
        whiteJudgeOnTheBackends();
        vb::test::publishUserConfig();
        g_debug.clear();
    }

    void candidatesComeServicesFirstThenWindowsAscending()
    {
        m_fakes.services->services = {service("b.service", 30),
                                      service("stopped.service", 31, SvcStopped),
                                      service("stopping.service", 32, SvcStopPending),
                                      service("paused.service", 33, SvcPaused),
                                      service("starting.service", 0, SvcStartPending),
                                      service("", 34),
                                      service("a.service", 30)};
        m_fakes.windows->windows = {window(1, 50),
                                    window(2, 40),
                                    window(3, 50),
                                    window(4, 60, false),
                                    window(5, 61, true, true),
                                    window(6, 62, true, false, true),
                                    window(7, 63, false),
                                    window(8, 63, true, true)};
        QStringList seen;
        // The heads of application units join the windowed processes (once each, in order).
        m_fakes.services->applications = std::vector<ProcessId>{64, 50, 45};
        const int flags = enumCandidates(
            m_fakes.services, m_fakes.windows,
            [&](ProcessId pid, const wchar_t* name, const wchar_t* display,
                const ServiceInfo* service) {
                QCOMPARE(!name, !service);
                seen << QStringLiteral("%1:%2:%3")
                            .arg(pid)
                            .arg(name ? QString::fromWCharArray(name) : QStringLiteral("-"))
                            .arg(display ? QStringLiteral("d") : QStringLiteral("-"));
            });
        QCOMPARE(flags, CE_Services | CE_Windows);
        QCOMPARE(seen, (sl({"30:b.service:d", "33:paused.service:d", "0:starting.service:d",
                            "30:a.service:d", "40:-:-", "45:-:-", "50:-:-", "64:-:-"})));
    }

    void unreachableServicesStillGiveWindows()
    {
        m_fakes.services->reachable = false;
        m_fakes.windows->windows = {window(1, 70)};
        m_fakes.windows->walkOk = false; // a walk that broke off keeps what it found
        QList<ProcessId> pids;
        m_fakes.services->applications = std::vector<ProcessId>{71};
        const int flags = enumCandidates(m_fakes.services, m_fakes.windows,
                                         [&](ProcessId pid, const wchar_t*, const wchar_t*,
                                             const ServiceInfo*) { pids << pid; });
        QCOMPARE(flags, 0);
        QCOMPARE(pids, QList<ProcessId>{70});
    }

    // An ordinary user may not open a system service's process: the row then takes its image
    // from the manager and its memory from what the user may read, or from the manager's
    // account. Windowed processes have no manager to stand in for them.
    void aServiceTheUserMayNotOpenIsNamedByItsManager_data()
    {
        QTest::addColumn<QString>("managerImage");
        QTest::addColumn<int>("managerMemory"); // -1: not accounted
        QTest::addColumn<bool>("rssReadable");
        QTest::addColumn<uint>("access");
        QTest::addColumn<QString>("expected"); // the service row, empty: not listed
        QTest::newRow("own process")
            << "/usr/sbin/other" << 7 << true << 0u << "30:x.service:1:100:/usr/sbin/cupsd";
        QTest::newRow("denied, /proc's memory")
            << "/usr/sbin/other" << 7 << true << 5u << "30:x.service:1:100:/usr/sbin/other";
        QTest::newRow("denied, the manager's memory")
            << "/usr/sbin/other" << 7 << false << 5u << "30:x.service:1:7:/usr/sbin/other";
        QTest::newRow("denied, no memory anywhere") << "/usr/sbin/other" << -1 << false << 5u << "";
        QTest::newRow("denied, no image from the manager") << "" << 7 << true << 5u << "";
        QTest::newRow("gone") << "/usr/sbin/other" << 7 << true << 87u << "";
    }
    void aServiceTheUserMayNotOpenIsNamedByItsManager()
    {
        QFETCH(QString, managerImage);
        QFETCH(int, managerMemory);
        QFETCH(bool, rssReadable);
        QFETCH(uint, access);
        QFETCH(QString, expected);
        m_fakes.addProc(30, "/usr/sbin/cupsd", 100);
        // The fake answers nothing about a process it may not open; the real /proc still
        // gives every user the resident size.
        m_fakes.procs->procs[30].rss = rssReadable ? std::optional<uint64_t>(100) : std::nullopt;
        if (access == ErrInvalidParameter)
            m_fakes.procs->procs.erase(30);
        m_backends.processes = std::make_shared<AsOtherUser>(m_fakes.procs, 30, access);
        ServiceInfo s = service("x.service", 30);
        s.imagePath = managerImage.toStdString();
        if (managerMemory >= 0)
            s.memoryBytes = uint64_t(managerMemory);
        m_fakes.services->services = {s};
        m_fakes.addProc(40, "/usr/bin/xterm", 10, ErrAccessDenied);
        m_fakes.windows->windows = {window(1, 40)};
        vb::test::publishUserConfig({{"x.service", 3}});
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QStringList services;
        for (const ProcListItem& r : *rows)
            if (r.isService)
                services << rowsOf(std::make_shared<QList<ProcListItem>>(QList<ProcListItem>{r}))
                                    .constFirst() +
                                QLatin1Char(':') + QString::fromStdWString(r.path);
        QCOMPARE(services, expected.isEmpty() ? QStringList() : QStringList{expected});
        for (const ProcListItem& r : *rows)
            QVERIFY(r.pid != 40); // denied and windowed: left out as before
    }

    // The user's own units meet the system's under their prefix: in the configuration, in the
    // rows and in the fix, which asks each manager for its own units only.
    void theSessionsUnitsCarryTheirPrefixThroughPassAndFix()
    {
        auto session = std::make_shared<fake::FakeServices>();
        m_backends.services = std::make_shared<SystemAndSessionServices>(m_fakes.services, session);
        m_fakes.addProc(30, "/usr/sbin/cupsd", 1000);
        m_fakes.addProc(50, "/usr/libexec/tracker-miner-fs-3", 300);
        m_fakes.addProc(51, "/usr/bin/syncthing", 200);
        m_fakes.addProc(60, "/usr/bin/gedit", 40);
        m_fakes.services->services = {service("cups.service", 30), service("same.service", 30)};
        session->services = {service("tracker-miner-fs-3.service", 50),
                             service("same.service", 51)}; // a user unit named as a system one
        session->applications = std::vector<ProcessId>{60};
        vb::test::publishUserConfig({
            {"cups.service", 1},
            {"user:tracker-miner-fs-3.service", 1},
            {"user:same.service", 0x11},
            {"tracker-miner-fs-3.service", 0}, // the system has none
        });
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(rowsOf(rows), (sl({"0:ADVICE:0:1300", "30:cups.service:1:1000",
                                    "50:user:tracker-miner-fs-3.service:1:300", "0:OPTIONAL:0:240",
                                    "51:user:same.service:0:200", "60:/usr/bin/gedit:0:40"})));

        QList<ProcListItem> fix = *rows;
        for (ProcListItem& r : fix)
            r.select = r.isService && r.serviceName != L"cups.service";
        session->refused = {"same.service"};
        const vb::procs::FixResult result = vb::procs::runFix(fix, false, m_backends);
        QCOMPARE(result.count, 1u);
        QCOMPARE(result.bytes, quint64(300));
        QCOMPARE(session->stopped, std::vector<std::string>{"tracker-miner-fs-3.service"});
        QVERIFY(m_fakes.services->stopped.empty());    // the system's same.service is untouched
        QCOMPARE(m_fakes.services->managersOpened, 0); // nor was its manager needed
    }

    void aPassGroupsJudgesAndTotals()
    {
        m_fakes.addProc(30, "/usr/sbin/cupsd", 1000);
        m_fakes.addProc(31, "/usr/sbin/bluetoothd", 200);
        m_fakes.addProc(40, "/usr/bin/xterm", 50);
        m_fakes.addProc(41, "/usr/bin/openbox", 60);
        m_fakes.addProc(9999, "/opt/host/verdant-ball-host", 70);
        m_fakes.addProc(3, "/sbin/init", 10);
        m_fakes.windows->shell = 41;
        m_fakes.services->services = {service("cups.service", 30, SvcRunning, "CUPS Scheduler"),
                                      service("cups-browsed.service", 30),
                                      service("bluetooth.service", 31),
                                      service("ignored.service", 31), service("early.service", 3)};
        m_fakes.windows->windows = {window(1, 40), window(2, 41), window(3, 9999), window(4, 3)};
        vb::test::publishUserConfig({{"cups.service", 3},
                                     {"cups-browsed.service", 1},
                                     {"bluetooth.service", 0x13},
                                     {"early.service", 3}});

        const auto office = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(rowsOf(office), (sl({"0:ADVICE:0:2000", "30:cups.service:1:1000",
                                      "30:cups-browsed.service:1:1000", "0:OPTIONAL:0:250",
                                      "31:bluetooth.service:0:200", "40:/usr/bin/xterm:0:50"})));
        const auto game = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QCOMPARE(rowsOf(game), (sl({"0:ADVICE:0:1000", "30:cups.service:1:1000", "0:OPTIONAL:0:250",
                                    "31:bluetooth.service:0:200", "40:/usr/bin/xterm:0:50"})));
        // Every field of a service row.
        const ProcListItem& cups = office->at(1);
        QCOMPARE(cups.kind, PK_Process);
        QCOMPARE(cups.group, JR_Advice);
        QVERIFY(cups.isService);
        QVERIFY(!cups.fixed);
        QCOMPARE(QString::fromStdWString(cups.displayName), QStringLiteral("CUPS Scheduler"));
        QCOMPARE(QString::fromStdWString(cups.path), QStringLiteral("/usr/sbin/cupsd"));
        const ProcListItem& header = office->at(0);
        QVERIFY(header.path.empty() && header.serviceName.empty() && !header.isService &&
                header.group == JR_NONE);
    }

    void aServiceHostWithAWindowGivesTwoRows()
    {
        m_fakes.addProc(30, "/usr/bin/agent", 100);
        m_fakes.services->services = {service("agent.service", 30)};
        m_fakes.windows->windows = {window(1, 30)};
        vb::test::publishUserConfig({{"agent.service", 0x11}});
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(rowsOf(rows),
                 (sl({"0:OPTIONAL:0:200", "30:agent.service:0:100", "30:/usr/bin/agent:0:100"})));
    }

    void nothingListedGivesAnEmptyListWithoutHeaders()
    {
        m_fakes.addProc(9999, "/opt/host/verdant-ball-host", 70);
        m_fakes.windows->windows = {window(1, 9999), window(2, 1)};
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QVERIFY(rows);
        QVERIFY(rows->isEmpty());
    }

    void candidatesThatCannotBeMeasuredAreDropped()
    {
        m_fakes.addProc(40, "/usr/bin/denied", 10, ErrAccessDenied);
        m_fakes.addProc(41, "/usr/bin/nomemory", 10);
        m_fakes.procs->procs[41].rss = std::nullopt;
        m_fakes.addProc(42, "", 10);           // the image name cannot be read
        m_fakes.addProc(43, "relative/x", 10); // not on any mapped volume
        m_fakes.addProc(44, "/usr/bin/ok", 10);
        m_fakes.addProc(45, "/usr/bin/vanishes", 10);
        m_fakes.procs->beforeMemory = [this](ProcessId pid) {
            if (pid == 45)
                m_fakes.procs->procs.erase(45); // exits between the open and the measuring
        };
        m_fakes.windows->windows = {window(1, 40), window(2, 41), window(3, 42), window(4, 43),
                                    window(5, 44), window(6, 45), window(7, 46)};
        auto previous = qInstallMessageHandler(collect);
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        qInstallMessageHandler(previous);
        QCOMPARE(rowsOf(rows), (sl({"0:OPTIONAL:0:10", "44:/usr/bin/ok:0:10"})));
        // Only failed opens are reported: the denied one, and the one that was never there.
        QCOMPARE(g_debug, (sl({"[-------OpenProcess------] 5", "[-------OpenProcess------] 87"})));
    }

    void drivePrefixesAreMapped_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("path"); // empty: dropped
        QTest::newRow("mapped") << "\\Device\\HarddiskVolume2\\Windows\\notepad.exe"
                                << "C:\\Windows\\notepad.exe";
        QTest::newRow("other case") << "\\device\\harddiskvolume2\\x.exe"
                                    << "C:\\x.exe";
        QTest::newRow("longer device of the same start") << "\\Device\\HarddiskVolume21\\x.exe"
                                                         << "E:\\x.exe";
        QTest::newRow("unmapped volume") << "\\Device\\HarddiskVolume9\\x.exe"
                                         << "";
        QTest::newRow("network") << "\\Device\\Mup\\server\\x.exe"
                                 << "";
        QTest::newRow("device alone") << "\\Device\\HarddiskVolume2"
                                      << "C:";
    }
    void drivePrefixesAreMapped()
    {
        QFETCH(QString, image);
        QFETCH(QString, path);
        m_fakes.volumes->map = {{"\\Device\\HarddiskVolume2", "C:"},
                                {"\\Device\\HarddiskVolume21", "E:"},
                                {"\\Device\\HarddiskVolume2", "D:"}};
        m_fakes.procs->procs[50] = {image.toStdString(), 5, 0};
        m_fakes.windows->windows = {window(1, 50)};
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        if (path.isEmpty()) {
            QVERIFY(rows->isEmpty());
        } else {
            QCOMPARE(rows->size(), 2);
            QCOMPARE(QString::fromStdWString(rows->at(1).path), path);
        }
        QCOMPARE(m_fakes.volumes->calls, 1); // once per pass, not per candidate
    }

    void everyJudgeIsBegunAndEndedOncePerPass()
    {
        m_fakes.addProc(60, "/usr/bin/a", 1);
        m_fakes.addProc(61, "/usr/bin/b", 1);
        m_fakes.windows->windows = {window(1, 60), window(2, 61)};
        auto first = std::make_shared<CountingJudge>();
        auto decider = std::make_shared<CountingJudge>();
        auto never = std::make_shared<CountingJudge>();
        decider->answer = JR_Optional;
        auto judges = std::make_shared<std::vector<std::shared_ptr<IProcessJudge>>>(
            std::vector<std::shared_ptr<IProcessJudge>>{first, decider, never});
        enumerateProcItems(m_backends, judges, KeepChoiceFn());
        enumerateProcItems(m_backends, judges, KeepChoiceFn());
        for (const auto& j : {first, decider, never}) {
            QCOMPARE(j->begins, 2);
            QCOMPARE(j->ends, 2);
        }
        QCOMPARE(first->judged, 4);
        QCOMPARE(decider->judged, 4);
        QCOMPARE(never->judged, 0); // the first answer decides
        // With no judge answering, nothing is listed.
        decider->answer = JR_NONE;
        QVERIFY(enumerateProcItems(m_backends, judges, KeepChoiceFn())->isEmpty());
    }

    void ticksFollowProcessIdsAcrossARefresh()
    {
        m_fakes.addProc(30, "/usr/sbin/host", 100);
        m_fakes.addProc(40, "/usr/bin/app", 10);
        m_fakes.addProc(41, "/usr/bin/other", 10);
        m_fakes.services->services = {service("one.service", 30), service("two.service", 30)};
        m_fakes.windows->windows = {window(1, 40), window(2, 41)};
        vb::test::publishUserConfig({{"one.service", 1}, {"two.service", 1}});
        auto judge = std::make_shared<JudgeUserOffice>();
        QList<ProcListItem> rows = *enumerateForList(m_backends, judge, {});
        QCOMPARE(rowsOf(std::make_shared<QList<ProcListItem>>(rows)),
                 (sl({"0:ADVICE:0:200", "30:one.service:1:100", "30:two.service:1:100",
                      "0:OPTIONAL:0:20", "40:/usr/bin/app:0:10", "41:/usr/bin/other:0:10"})));
        rows[1].select = false; // untick one service of the shared host
        rows[4].select = true;  // tick one option
        rows[0].select = true;  // a header's tick counts for nothing
        const auto again = enumerateForList(m_backends, judge, rows);
        QCOMPARE(rowsOf(again),
                 (sl({"0:ADVICE:0:200", "30:one.service:0:100", "30:two.service:0:100",
                      "0:OPTIONAL:0:20", "40:/usr/bin/app:1:10", "41:/usr/bin/other:0:10"})));
        // After a fix the list is emptied first: defaults come back.
        QCOMPARE(rowsOf(enumerateForList(m_backends, judge, {})).at(1),
                 QStringLiteral("30:one.service:1:100"));
        const KeepChoiceFn keep = keepChoicesOf(rows);
        QVERIFY(!keep(nullptr, rows[1]));
    }

    void noAdviceStartsWithTheOptionalHeader()
    {
        m_fakes.addProc(40, "/usr/bin/app", 10);
        m_fakes.windows->windows = {window(1, 40)};
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QCOMPARE(rows->size(), 2);
        QCOMPARE(rows->at(0).kind, PK_OptionalHeader);
        QCOMPARE(rows->at(0).memory, quint64(10));
    }

    // Another init, or no system bus at all: the services part says so once, in the boost
    // lists' category, and the processes are listed pass after pass.
    void withoutSystemdProcessesAreListedAfterOneWarning_data()
    {
        QTest::addColumn<bool>("busRuns"); // a bus with nobody as systemd on it
        QTest::newRow("no system bus") << false;
        QTest::newRow("a bus without systemd") << true;
    }
    void withoutSystemdProcessesAreListedAfterOneWarning()
    {
        QFETCH(bool, busRuns);
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("bus"));
        QProcess bus;
        if (busRuns) {
            bus.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"),
                       QStringLiteral("--address=unix:path=") + socket,
                       QStringLiteral("--print-address=1")});
            QVERIFY(bus.waitForStarted());
            QVERIFY(bus.waitForReadyRead(10000)); // it prints its address once it listens
        }
        QProcess child;
        child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted());
        const auto pid = static_cast<ProcessId>(child.processId());
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        m_backends.services =
            std::make_shared<linux_::SystemdServices>("unix:path=" + socket.toStdString());
        whiteJudgeOnTheBackends();
        m_fakes.windows->windows = {window(1, pid)};
        vb::test::publishUserConfig({{"dbus.service", 3}});
        g_warnings.clear();
        auto previous = qInstallMessageHandler(collect);
        QList<ProcListItems_ptr> passes;
        for (int i = 0; i < 2; ++i)
            passes << enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        qInstallMessageHandler(previous);
        child.kill();
        child.waitForFinished();
        bus.kill();
        bus.waitForFinished();
        for (const ProcListItems_ptr& rows : passes) {
            QCOMPARE(rows->size(), 2);
            QCOMPARE(rows->at(1).pid, pid);
            QVERIFY(!rows->at(1).isService);
        }
        QCOMPARE(g_warnings, sl({"vb.procs"}));
    }

    void realProcessesEndingDuringPassesAreNeverListedWrongly()
    {
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        whiteJudgeOnTheBackends();
        const QString sleep = QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath();
        // Some already gone (and reaped), some ending while the passes run.
        std::vector<std::unique_ptr<QProcess>> kids;
        QSet<ProcessId> gone, all;
        for (int i = 0; i < 40; ++i) {
            auto k = std::make_unique<QProcess>();
            k->start(QStringLiteral("/bin/sleep"), {i < 10 ? "0" : "0.05"});
            QVERIFY(k->waitForStarted());
            const auto pid = static_cast<ProcessId>(k->processId());
            all << pid;
            if (i < 10) {
                QVERIFY(k->waitForFinished(5000));
                gone << pid;
            }
            m_fakes.windows->windows.push_back(window(uintptr_t(i + 1), pid));
            kids.push_back(std::move(k));
        }
        for (int round = 0; round < 20; ++round) {
            const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
            for (const ProcListItem& r : *rows) {
                if (r.kind != PK_Process)
                    continue;
                QVERIFY(all.contains(r.pid));
                QVERIFY(!gone.contains(r.pid));
                QCOMPARE(QString::fromStdWString(r.path), sleep);
            }
            QTest::qWait(5);
        }
        for (auto& k : kids)
            k->waitForFinished(5000);
    }

    void unitStatesAsServiceStates_data()
    {
        QTest::addColumn<QString>("activeState");
        QTest::addColumn<uint>("state");
        QTest::newRow("active") << "active" << uint(SvcRunning);
        QTest::newRow("reloading") << "reloading" << uint(SvcRunning);
        QTest::newRow("activating") << "activating" << uint(SvcStartPending);
        QTest::newRow("deactivating") << "deactivating" << uint(SvcStopPending);
        QTest::newRow("inactive") << "inactive" << uint(SvcStopped);
        QTest::newRow("failed") << "failed" << uint(SvcStopped);
        QTest::newRow("maintenance") << "maintenance" << uint(SvcStopped);
        QTest::newRow("refreshing") << "refreshing" << uint(SvcRunning);
        QTest::newRow("a word of a later systemd") << "hibernating" << uint(SvcStopped);
        QTest::newRow("empty") << "" << uint(SvcStopped);
    }
    void unitStatesAsServiceStates()
    {
        QFETCH(QString, activeState);
        QFETCH(uint, state);
        QCOMPARE(uint(linux_::SystemdServices::stateOf(activeState, QString())), state);
    }

    void theWhiteJudgeIsAskedFirst()
    {
        auto own = std::make_shared<JudgeUserOffice>();
        const ProcJudges_ptr judges = passJudges(own);
        QCOMPARE(judges->size(), size_t(2));
        QCOMPARE(judges->at(0).get(), systemWhiteJudge.get());
        QCOMPARE(judges->at(1).get(), static_cast<IProcessJudge*>(own.get()));
        QCOMPARE(passJudges(nullptr)->size(), size_t(1));
    }

    void aReusedIdDescribesTheProcessThatHoldsItNow()
    {
        m_fakes.addProc(80, "/usr/bin/old", 10);
        m_fakes.windows->windows = {window(1, 80)};
        m_fakes.procs->beforeMemory = [this](ProcessId pid) {
            if (pid == 80)
                m_fakes.procs->procs[80] = {"/usr/bin/new", 99,
                                            0}; // exited, and the id went to another
        };
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
        QCOMPARE(rowsOf(rows), sl({"0:OPTIONAL:0:99", "80:/usr/bin/new:0:99"}));
    }

    // Starts program as a child, by way of setpriv when args are given, and waits (bounded)
    // until the child's image is the program: before that it is setpriv's.
    static ProcessId startSleep(QProcess& child, const QStringList& setpriv = {})
    {
        const QString sleep = QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath();
        if (setpriv.isEmpty())
            child.start(sleep, {QStringLiteral("30")});
        else
            child.start(QStringLiteral("setpriv"),
                        setpriv + QStringList{sleep, QStringLiteral("30")});
        if (!child.waitForStarted())
            return 0;
        const auto pid = static_cast<ProcessId>(child.processId());
        linux_::ProcfsProcesses real;
        for (int i = 0; i < 200 && QString::fromStdString(real.imagePath(pid)) != sleep; ++i)
            QTest::qWait(10);
        return pid;
    }

    QList<ProcListItem> listWindowsOf(std::initializer_list<ProcessId> pids)
    {
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        whiteJudgeOnTheBackends();
        uintptr_t id = 1;
        for (ProcessId pid : pids)
            m_fakes.windows->windows.push_back(window(id++, pid));
        return *enumerateForList(m_backends, std::make_shared<JudgeUserOffice>(), {});
    }

    void anotherUsersProcessIsListed()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to open another user's process (the ordinary user's view is "
                  "anotherUsersProcessIsNotListedForAnOrdinaryUser)");
        // Started as "nobody": with the rights to open it (root here), it is an ordinary row.
        QProcess child;
        const ProcessId pid =
            startSleep(child, {"--reuid=65534", "--regid=65534", "--clear-groups"});
        QVERIFY(pid != 0);
        const auto rows = listWindowsOf({pid});
        child.kill();
        child.waitForFinished();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(1).pid, pid);
        QCOMPARE(QString::fromStdWString(rows.at(1).path),
                 QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
    }

    // An ordinary user cannot open another user's process: it is left out, while the user's
    // own process beside it is listed. Run as root, the test runs this case once more as
    // "nobody" against a process of root's.
    void anotherUsersProcessIsNotListedForAnOrdinaryUser()
    {
        QProcess other;
        if (::geteuid() == 0) {
            const ProcessId rootsPid = startSleep(other);
            QVERIFY(rootsPid != 0);
            QProcess again;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("VB_OTHER_PID"), QString::number(rootsPid));
            again.setProcessEnvironment(env);
            again.setProcessChannelMode(QProcess::ForwardedChannels);
            again.start(QStringLiteral("setpriv"),
                        {"--reuid=65534", "--regid=65534", "--clear-groups",
                         QCoreApplication::applicationFilePath(),
                         QStringLiteral("anotherUsersProcessIsNotListedForAnOrdinaryUser")});
            QVERIFY(again.waitForFinished(60000));
            other.kill();
            other.waitForFinished();
            QCOMPARE(again.exitStatus(), QProcess::NormalExit);
            QCOMPARE(again.exitCode(), 0);
            return;
        }
        // Without a process of root's handed over, pid 1 stands in when another user owns it.
        ProcessId theirs = qEnvironmentVariableIntValue("VB_OTHER_PID");
        if (theirs == 0) {
            QFileInfo init(QStringLiteral("/proc/1"));
            if (!init.exists() || init.ownerId() == ::geteuid())
                QSKIP("no process of another user to look at");
            theirs = 1;
        }
        QProcess mine;
        const ProcessId own = startSleep(mine);
        QVERIFY(own != 0);
        const auto rows = listWindowsOf({theirs, own});
        mine.kill();
        mine.waitForFinished();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(1).pid, own);
    }

    void theSnapshotTypeCrossesQueuedSignals()
    {
        registerProcMetaTypes();
        QVERIFY(QMetaType::fromName("ProcListItems_ptr").isValid());
        EnumReply reply;
        EnumNotifyer notifyer;
        QVERIFY(QObject::connect(&notifyer, SIGNAL(enumOver(ProcListItems_ptr, int)), &reply,
                                 SLOT(onEnumOver(ProcListItems_ptr, int)), Qt::QueuedConnection));
        QSignalSpy spy(&reply, SIGNAL(enumOver(ProcListItems_ptr, int)));
        auto items = std::make_shared<QList<ProcListItem>>();
        items->append(ProcListItem::header(PK_AdviceHeader, 5));
        const ProcListItems_ptr sent = items;
        Q_EMIT notifyer.enumOver(sent, 0);
        QVERIFY(spy.wait(2000));
        QCOMPARE(spy.at(0).at(0).value<ProcListItems_ptr>().get(), sent.get());
        QCOMPARE(spy.at(0).at(1).toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestProcEnum)
#include "tst_procenum.moc"

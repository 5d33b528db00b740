// SPDX-License-Identifier: GPL-3.0-or-later
// A fix against real processes, children of this test: only what is ticked and still the
// process that was listed ends, and the count says what really ended. Run as root and, by
// test_terminate_user.sh, as an ordinary user.
#include "platform/linux/procfsprocesses.h"
#include "procs/procdatalist.h"
#include "procs/procfix.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace vb::platform;

namespace {
enum ChildKind { Plain, IgnoresTerm };

bool startChild(QProcess& p, ChildKind kind)
{
    if (kind == Plain)
        p.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
    else // ready only once TERM is ignored; the ignored signal stays ignored across exec
        p.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("trap '' TERM; echo ready; exec sleep 60")});
    if (!p.waitForStarted(5000))
        return false;
    return kind == Plain || (p.waitForReadyRead(5000) && p.readAll().startsWith("ready"));
}

// As the enumeration lists a process.
ProcListItem listed(IProcesses& procs, const QProcess& p, bool ticked)
{
    const auto pid = static_cast<ProcessId>(p.processId());
    ProcListItem r(
        ProcInfo(pid, L"/bin/sleep", procs.workingSetBytes(pid).value_or(0), nullptr, nullptr),
        PK_Process, ticked);
    r.startTime = procs.startTime(pid);
    return r;
}

bool alive(const QProcess& p)
{
    return p.state() == QProcess::Running && ::kill(static_cast<pid_t>(p.processId()), 0) == 0;
}

// Clock ticks since boot, the unit of a process's start time.
quint64 ticksNow()
{
    QFile f(QStringLiteral("/proc/uptime"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return quint64(f.readAll().split(' ').value(0).toDouble() * double(::sysconf(_SC_CLK_TCK)));
}

bool ends(QProcess& p)
{
    return p.state() == QProcess::NotRunning || p.waitForFinished(5000);
}

// Makes the kernel hand out pid next (root only): the trick checkpoint tools use.
bool startWithPid(QProcess& p, pid_t want)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QFile last(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
        if (!last.open(QIODevice::WriteOnly))
            return false;
        last.write(QByteArray::number(want - 1));
        last.close();
        if (!startChild(p, Plain))
            return false;
        if (p.processId() == want)
            return true;
        p.kill(); // someone else took it first
        p.waitForFinished();
    }
    return false;
}
} // namespace

class TestTerminate : public QObject
{
    Q_OBJECT
    std::shared_ptr<linux_::ProcfsProcesses> m_procs = std::make_shared<linux_::ProcfsProcesses>();

    Platform backends() const
    {
        Platform p;
        p.processes = m_procs;
        return p;
    }

private Q_SLOTS:
    void onlyTheListedTickedProcessesEnd()
    {
        QProcess plain, stubborn, gone, unticked, stranger;
        for (auto* c : {&plain, &gone, &unticked, &stranger})
            QVERIFY(startChild(*c, Plain));
        QVERIFY(startChild(stubborn, IgnoresTerm));
        QList<ProcListItem> rows{listed(*m_procs, plain, true), listed(*m_procs, stubborn, true),
                                 listed(*m_procs, gone, true), listed(*m_procs, unticked, false),
                                 listed(*m_procs, stranger, true)};
        QVERIFY(rows[0].startTime != 0);
        // Ended on its own before the fix.
        gone.kill();
        QVERIFY(gone.waitForFinished(5000));
        // The id now belongs to a process started at another time than the one listed.
        rows[4].startTime += 1;

        const auto r = vb::procs::runFix(rows, false, backends());
        QCOMPARE(r.count, 2u);
        QCOMPARE(r.bytes, rows[0].memory + rows[1].memory);
        QVERIFY(rows[0].fixed && rows[1].fixed);
        QVERIFY(!rows[2].fixed && !rows[3].fixed && !rows[4].fixed);
        QVERIFY(plain.waitForFinished(5000));
        QCOMPARE(plain.exitStatus(), QProcess::CrashExit); // ended by the request to close
        QVERIFY(stubborn.waitForFinished(5000));
        QVERIFY(alive(unticked));
        QVERIFY(alive(stranger));
        for (auto* c : {&unticked, &stranger}) {
            c->kill();
            c->waitForFinished();
        }
    }

    void aPidHandedOnIsLeftAlone()
    {
        if (::geteuid() != 0)
            QSKIP("choosing a pid needs root; the root run covers this case");
        QProcess first, second;
        QVERIFY(startChild(first, Plain));
        QList<ProcListItem> rows{listed(*m_procs, first, true)};
        const auto pid = static_cast<pid_t>(first.processId());
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        // An id comes round on its own only after thousands of others, never within the tick
        // of the start time; steered by hand it could, so let that tick pass first.
        QTRY_VERIFY(ticksNow() > rows[0].startTime);
        QVERIFY(startWithPid(second, pid));
        QVERIFY(m_procs->startTime(static_cast<ProcessId>(pid)) != rows[0].startTime);
        QCOMPARE(vb::procs::runFix(rows, false, backends()).count, 0u);
        QVERIFY(alive(second));
        second.kill();
        second.waitForFinished();
    }

    void aListFixesItsTickedChildAndFillsAgain()
    {
        QProcess child;
        QVERIFY(startChild(child, Plain));
        ProcDataList list(std::shared_ptr<IProcessJudge>(), nullptr, backends());
        QList<ProcListItem> rows{listed(*m_procs, child, true)};
        list.swapItems(rows);
        QSignalSpy result(&list, &ProcDataList::fixResultChanged);
        list.qmlStartFix();
        QVERIFY(list.isFixing());
        QVERIFY(result.wait(10000));
        QCOMPARE(result[0][0].toUInt(), 1u);
        QVERIFY(ends(child));
        QVERIFY(!list.isFixing());
    }

    void aWorkerThatCannotStartLeavesTheListIdle()
    {
        if (::geteuid() == 0)
            QSKIP("root is exempt from the process limit; the user run covers this case");
        QProcess child;
        QVERIFY(startChild(child, Plain));
        ProcDataList list(std::shared_ptr<IProcessJudge>(), nullptr, backends());
        QList<ProcListItem> rows{listed(*m_procs, child, true)};
        list.swapItems(rows);
        QSignalSpy fixing(&list, &ProcDataList::isFixingChanged);
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NPROC, &saved), 0);
        rlimit none = saved;
        none.rlim_cur = 0; // no new thread for this user
        QCOMPARE(::setrlimit(RLIMIT_NPROC, &none), 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no worker thread")));
        list.beginFix(false);
        QCOMPARE(::setrlimit(RLIMIT_NPROC, &saved), 0);
        QVERIFY(!list.isFixing());
        QCOMPARE(fixing.size(), 2);
        QVERIFY(alive(child));
        // And the next fix runs.
        QSignalSpy result(&list, &ProcDataList::fixResultChanged);
        list.beginFix(false);
        QVERIFY(result.wait(10000));
        QCOMPARE(result[0][0].toUInt(), 1u);
        QVERIFY(ends(child));
    }
};

QTEST_GUILESS_MAIN(TestTerminate)
#include "tst_terminate.moc"

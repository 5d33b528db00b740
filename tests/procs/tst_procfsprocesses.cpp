// SPDX-License-Identifier: GPL-3.0-or-later
// The procfs backend against captured texts and against real processes.
#include "../lib/heldchild.h"
#include "platform/linux/procfsprocesses.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using vb::platform::ProcessId;
using vb::platform::ProcessRecord;
using vb::platform::linux_::ProcfsProcesses;

namespace {
bool startSleep(QProcess& p, const QString& program = QStringLiteral("/bin/sleep"))
{
    p.start(program, {QStringLiteral("30")});
    return p.waitForStarted();
}

// A stat line as the kernel writes it, with the fields a pass reads set.
QByteArray statLine(ProcessId pid, const QByteArray& name, quint64 start, quint64 rssPages,
                    quint64 stack)
{
    QByteArray s = QByteArray::number(pid) + " (" + name + ") S";
    for (int n = 4; n <= 21; ++n)
        s += n == 19 ? " -5" : " 1"; // nice may be negative
    s += ' ' + QByteArray::number(start) + " 4096 " + QByteArray::number(rssPages) +
         " 18446744073709551615 94000 95000 " + QByteArray::number(stack) + " 0 0 0 17 1\n";
    return s;
}

// A captured process tree that a test changes between two reads.
class FakeProcTree
{
public:
    QString root() const { return m_dir.path(); }
    bool put(ProcessId pid, const QByteArray& stat, const QString& image)
    {
        const QString d = dirOf(pid);
        QDir().mkpath(d);
        QFile f(d + QStringLiteral("/stat"));
        QFile::remove(d + QStringLiteral("/exe"));
        return f.open(QIODevice::WriteOnly) && f.write(stat) == stat.size() &&
               (image.isEmpty() || QFile::link(image, d + QStringLiteral("/exe")));
    }
    bool remove(ProcessId pid) { return QDir(dirOf(pid)).removeRecursively(); }

private:
    QString dirOf(ProcessId pid) const { return m_dir.filePath(QString::number(pid)); }
    QTemporaryDir m_dir;
};
} // namespace

class TestProcfsProcesses : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void vmRss_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<qint64>("bytes"); // -1: none
        QTest::newRow("usual")
            << QByteArray("Name:\tsleep\nVmPeak:\t 5000 kB\nVmRSS:\t    1536 kB\nThreads:\t1\n")
            << qint64(1536 * 1024);
        QTest::newRow("first line") << QByteArray("VmRSS: 4 kB\n") << qint64(4096);
        QTest::newRow("zero") << QByteArray("VmRSS:\t0 kB\n") << qint64(0);
        QTest::newRow("kernel thread has none")
            << QByteArray("Name:\tkthreadd\nState:\tS\n") << qint64(-1);
        QTest::newRow("no number") << QByteArray("VmRSS:\t kB\n") << qint64(-1);
        QTest::newRow("prefix only") << QByteArray("VmRSSx 12 kB\n") << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1);
        QTest::newRow("overflow") << QByteArray("VmRSS:\t99999999999999999999999 kB\n")
                                  << qint64(-1);
    }
    void vmRss()
    {
        QFETCH(QByteArray, status);
        QFETCH(qint64, bytes);
        const auto got = ProcfsProcesses::parseVmRssBytes(status.toStdString());
        if (bytes < 0)
            QVERIFY(!got);
        else
            QCOMPARE(qint64(got.value_or(~0ull)), bytes);
    }

    void startTime_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<qint64>("start"); // 0: none
        QTest::newRow("a whole line")
            << statLine(7, "a b) (c", 1516857, 383, 140730406085120) << qint64(1516857);
        const QByteArray tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 98765 4096 12\n";
        QTest::newRow("usual") << QByteArray("4242 (sleep)") + tail << qint64(98765);
        // A name may hold spaces and parentheses: the fields count from the last ')'.
        QTest::newRow("tricky name") << QByteArray("4242 (a) S 1 (b c)") + tail << qint64(98765);
        QTest::newRow("cut short") << QByteArray("4242 (sleep) S 1 2 3\n") << qint64(0);
        QTest::newRow("no name") << QByteArray("4242 sleep S 1 2 3") + tail << qint64(0);
        QTest::newRow("not a number")
            << QByteArray("1 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 9x 1\n")
            << qint64(0);
    }
    void startTime()
    {
        QFETCH(QByteArray, stat);
        QFETCH(qint64, start);
        QCOMPARE(qint64(ProcfsProcesses::parseStartTime(stat.toStdString())), start);
    }

    void statFields()
    {
        ProcfsProcesses::StatFields f;
        QVERIFY(ProcfsProcesses::parseStat(
            statLine(7, "a b) (c", 1516857, 383, 140730406085120).toStdString(), f));
        QCOMPARE(f.name, std::string("a b) (c"));
        QCOMPARE(f.startTime, 1516857u);
        QCOMPARE(f.rssPages, 383u);
        QCOMPARE(f.startCode, 94000u);
        QCOMPARE(f.endCode, 95000u);
        QCOMPARE(f.startStack, 140730406085120u);
        // The kernel hides code and stack from who may not inspect the process.
        QVERIFY(ProcfsProcesses::parseStat(statLine(7, "x", 5, 1, 0).toStdString(), f));
        QCOMPARE(f.startStack, 0u);
        QVERIFY(!ProcfsProcesses::parseStat("7 (x) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 "
                                            "18 5 6 -1\n",
                                            f)); // a negative resident size is no stat line
    }

    // A process read twice, with the tree changed between the reads: the image is served
    // from memory only while the same process, unchanged, can still be inspected.
    void imageKeptForALivingProcess_data()
    {
        QTest::addColumn<QByteArray>("nextStat"); // empty: the process is gone
        QTest::addColumn<QString>("nextImage");   // empty: the link cannot be read
        QTest::addColumn<uint>("access");
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("kept");
        QTest::newRow("the same process, its link not read again")
            << statLine(300, "worker", 1000, 12, 5000) << QString() << 0u
            << QStringLiteral("/opt/a/worker") << true;
        QTest::newRow("its id reused by a later process")
            << statLine(300, "worker", 2000, 10, 5000) << QStringLiteral("/opt/b/other") << 0u
            << QStringLiteral("/opt/b/other") << true;
        QTest::newRow("the same process after exec")
            << statLine(300, "other", 1000, 10, 7000) << QStringLiteral("/opt/b/other") << 0u
            << QStringLiteral("/opt/b/other") << true;
        QTest::newRow("exec under the same name")
            << statLine(300, "worker", 1000, 10, 7000) << QStringLiteral("/opt/b/worker") << 0u
            << QStringLiteral("/opt/b/worker") << true;
        QTest::newRow("no longer open to us")
            << statLine(300, "worker", 1000, 10, 0) << QString()
            << uint(vb::platform::ErrAccessDenied) << QString() << false;
        QTest::newRow("gone") << QByteArray() << QString()
                              << uint(vb::platform::ErrInvalidParameter) << QString() << false;
    }
    void imageKeptForALivingProcess()
    {
        QFETCH(QByteArray, nextStat);
        QFETCH(QString, nextImage);
        QFETCH(uint, access);
        QFETCH(QString, image);
        QFETCH(bool, kept);
        FakeProcTree tree;
        QVERIFY(tree.put(300, statLine(300, "worker", 1000, 10, 5000),
                         QStringLiteral("/opt/a/worker")));
        ProcfsProcesses p(tree.root().toStdString());
        const ProcessRecord before = p.record(300);
        QCOMPARE(before.access, 0u);
        QCOMPARE(QString::fromStdString(before.imagePath), QStringLiteral("/opt/a/worker"));
        QCOMPARE(before.startTime, 1000u);
        QCOMPARE(before.workingSetBytes.value_or(0), 10u * uint64_t(::sysconf(_SC_PAGESIZE)));
        QVERIFY(p.holdsImageOf(300));

        if (nextStat.isEmpty())
            QVERIFY(tree.remove(300));
        else
            QVERIFY(tree.put(300, nextStat, nextImage));
        const ProcessRecord after = p.record(300);
        QCOMPARE(after.access, access);
        QCOMPARE(QString::fromStdString(after.imagePath), image);
        QCOMPARE(after.workingSetBytes.has_value(), access == 0);
        QCOMPARE(p.holdsImageOf(300), kept);
    }

    void passesForgetProcessesNoLongerAskedAbout()
    {
        FakeProcTree tree;
        for (ProcessId pid : {400u, 401u})
            QVERIFY(tree.put(pid, statLine(pid, "w", 9, 1, 5000), QStringLiteral("/opt/w")));
        ProcfsProcesses p(tree.root().toStdString());
        QCOMPARE(p.record(400).access, 0u);
        QCOMPARE(p.record(401).access, 0u);
        p.passEnded();
        QVERIFY(p.holdsImageOf(400) && p.holdsImageOf(401));
        // 401 is still running but no candidate any more; 400 stays one.
        QCOMPARE(p.record(400).access, 0u);
        p.passEnded();
        QVERIFY(p.holdsImageOf(400));
        QVERIFY(!p.holdsImageOf(401));
        // A process that ends between passes goes with the next one.
        QVERIFY(tree.remove(400));
        p.passEnded();
        p.passEnded();
        QVERIFY(!p.holdsImageOf(400));
    }

    void idsOfACapturedTree()
    {
        QTemporaryDir root;
        for (const char* n :
             {"1", "42", "0", "abc", "7x", "4294967295", "4294967296", "self", "01"})
            QVERIFY(QDir(root.path()).mkdir(QLatin1String(n)));
        ProcfsProcesses p(root.path().toStdString());
        std::vector<ProcessId> ids;
        QVERIFY(p.processIds(ids));
        std::sort(ids.begin(), ids.end());
        QCOMPARE(ids, (std::vector<ProcessId>{1, 42, 4294967295u}));
        QVERIFY(!p.taskStamp()); // its ids are not this machine's processes
        ProcfsProcesses missing(root.path().toStdString() + "/nowhere");
        QVERIFY(!missing.processIds(ids));
    }

    void theStampFollowsReaping()
    {
        const pid_t first = forkPaused();
        const pid_t second = forkPaused();
        ProcfsProcesses p;
        std::vector<ProcessId> ids;
        const bool listed = p.processIds(ids);
        const auto before = p.taskStamp();
        ::kill(first, SIGKILL);
        // Waits for the exit without reaping: the child stays listed, as a zombie.
        siginfo_t info{};
        const int waited = ::waitid(P_PID, id_t(first), &info, WEXITED | WNOWAIT);
        const auto zombie = p.taskStamp();
        std::optional<vb::platform::TaskStamp> lingering;
        for (int i = 0; i < 20; ++i)
            lingering = p.taskStamp();
        ::waitpid(first, nullptr, 0);
        const auto reaped = p.taskStamp();
        // Reaped while another thread lists: its listing must not hide the change.
        ::kill(second, SIGKILL);
        ::waitpid(second, nullptr, 0);
        const bool relisted = p.processIds(ids);
        const auto afterOther = p.taskStamp();
        QVERIFY(first > 0 && second > 0 && listed && relisted);
        QCOMPARE(waited, 0);
        QVERIFY(before && zombie && lingering && reaped && afterOther);
        // A zombie leaves the listing as it was: one that lingers must not keep the stamp
        // moving (other processes of the machine may end meanwhile, hence no equality).
        QVERIFY(lingering->ended - zombie->ended < 10);
        QVERIFY(reaped->ended > lingering->ended);
        QVERIFY(afterOther->ended > reaped->ended);
    }

    void noStampForAnotherNamespacesProc()
    {
        // A new pid namespace that still sees the old /proc: its ids are not the reader's.
        const pid_t child = ::fork();
        if (child == 0) {
            if (::unshare(CLONE_NEWPID) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWPID) != 0)
                ::_exit(77);
            const pid_t inner = ::fork();
            if (inner == 0) {
                ProcfsProcesses p;
                std::vector<ProcessId> ids;
                ::_exit(!p.processIds(ids) ? 2 : p.taskStamp() ? 1 : 0);
            }
            int status = 0;
            ::_exit(inner > 0 && ::waitpid(inner, &status, 0) == inner && WIFEXITED(status)
                        ? WEXITSTATUS(status)
                        : 3);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 77)
            QSKIP("no new pid namespace here");
        QCOMPARE(WEXITSTATUS(status), 0);
        // The machine's own /proc, read from its own namespace, has one.
        ProcfsProcesses own;
        std::vector<ProcessId> ids;
        QVERIFY(own.processIds(ids));
        QVERIFY(own.taskStamp());
    }

    void aRunningChild()
    {
        QProcess child;
        QVERIFY(startSleep(child));
        const auto pid = static_cast<ProcessId>(child.processId());
        ProcfsProcesses p;
        QCOMPARE(p.queryAccess(pid), 0u);
        QVERIFY(p.canOpen(pid));
        QCOMPARE(QString::fromStdString(p.imagePath(pid)),
                 QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());
        const auto rss = p.workingSetBytes(pid);
        QVERIFY(rss.has_value());
        QVERIFY(*rss > 0);
        QCOMPARE(p.currentProcessId(), static_cast<ProcessId>(::getpid()));
        // The pass's record reads the same process (whose new image may still be loading).
        QTRY_VERIFY(p.record(pid).workingSetBytes.value_or(0) > 0);
        const ProcessRecord rec = p.record(pid);
        QCOMPARE(rec.access, 0u);
        QCOMPARE(rec.imagePath, p.imagePath(pid));
        QCOMPARE(rec.startTime, p.startTime(pid));
        QVERIFY(p.holdsImageOf(pid));
        QVERIFY(p.terminate(pid, p.startTime(pid), 2000));
        QVERIFY(child.waitForFinished(5000));
        // Gone: every query says so instead of reading a stranger's entry.
        QCOMPARE(p.queryAccess(pid), uint32_t(vb::platform::ErrInvalidParameter));
        QVERIFY(p.imagePath(pid).empty());
        QVERIFY(!p.workingSetBytes(pid));
        QCOMPARE(p.record(pid).access, uint32_t(vb::platform::ErrInvalidParameter));
        QVERIFY(!p.holdsImageOf(pid));
        QVERIFY(!p.terminate(0, 0, 0));
    }

    void anImageDeletedWhileRunningKeepsItsPath()
    {
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("vb-deleted-sleep"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        QProcess child;
        QVERIFY(startSleep(child, copy));
        QVERIFY(QFile::remove(copy));
        ProcfsProcesses p;
        QCOMPARE(QString::fromStdString(p.imagePath(static_cast<ProcessId>(child.processId()))),
                 copy);
        child.kill();
        child.waitForFinished();
    }

    void anotherUsersProcessIsRefusedWithoutRights()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to become another user");
        // A child that becomes "nobody" asks about us (root): no access, as OpenProcess says.
        const pid_t parent = ::getpid();
        const pid_t kid = ::fork();
        QVERIFY(kid >= 0);
        if (kid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(90);
            ProcfsProcesses p;
            const uint32_t err = p.queryAccess(static_cast<ProcessId>(parent));
            const bool noImage = p.imagePath(static_cast<ProcessId>(parent)).empty();
            ::_exit(err == vb::platform::ErrAccessDenied && noImage ? 0 : 91);
        }
        int status = 0;
        QCOMPARE(::waitpid(kid, &status, 0), kid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_GUILESS_MAIN(TestProcfsProcesses)
#include "tst_procfsprocesses.moc"

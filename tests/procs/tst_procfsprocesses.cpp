// SPDX-License-Identifier: GPL-3.0-or-later
// The procfs backend against captured texts and against real processes.
#include "platform/linux/procfsprocesses.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

using vb::platform::ProcessId;
using vb::platform::linux_::ProcfsProcesses;

namespace {
bool startSleep(QProcess& p, const QString& program = QStringLiteral("/bin/sleep"))
{
    p.start(program, {QStringLiteral("30")});
    return p.waitForStarted();
}
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
        ProcfsProcesses missing(root.path().toStdString() + "/nowhere");
        QVERIFY(!missing.processIds(ids));
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
        QVERIFY(p.terminate(pid, p.startTime(pid), 2000));
        QVERIFY(child.waitForFinished(5000));
        // Gone: every query says so instead of reading a stranger's entry.
        QCOMPARE(p.queryAccess(pid), uint32_t(vb::platform::ErrInvalidParameter));
        QVERIFY(p.imagePath(pid).empty());
        QVERIFY(!p.workingSetBytes(pid));
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

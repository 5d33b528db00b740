// SPDX-License-Identifier: GPL-3.0-or-later
// An ordinary user's release: which control groups are the user's, the reclaim written into a
// made-up cgroup tree (and into the real one where the kernel offers it), and the order of the
// ways a release tries: everything itself when it may, else the filter service, else the
// user's own processes with one line on what was left.
#include "../lib/files.h"
#include "platform/linux/cgroupreclaim.h"
#include "platform/linux/releaseworkingsets.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using vb::platform::linux_::CgroupReclaim;
using vb::platform::linux_::ReleaseWorkingSets;
using vb::platform::linux_::ServiceRelease;

using vb::test::contents;
using vb::test::put;

class TestUserRelease : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cgroupMount_data();
    void cgroupMount();
    void delegatedGroup_data();
    void delegatedGroup();
    void reclaimWritesTheUsersGroups();
    void reclaimThatCannotRun_data();
    void reclaimThatCannotRun();
    void reclaimOnThisMachine();
    void waysInOrder_data();
    void waysInOrder();
};

void TestUserRelease::cgroupMount_data()
{
    QTest::addColumn<QByteArray>("mountinfo");
    QTest::addColumn<QByteArray>("mount");
    QTest::newRow("hybrid: cgroup2 beside v1")
        << QByteArray("25 1 0:23 / /sys rw - sysfs sysfs rw\n"
                      "35 25 0:30 / /sys/fs/cgroup ro shared:9 - tmpfs tmpfs ro\n"
                      "36 35 0:31 / /sys/fs/cgroup/unified rw shared:10 - cgroup2 cgroup2 rw\n"
                      "37 35 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n")
        << QByteArray("/sys/fs/cgroup/unified");
    QTest::newRow("unified, optional fields")
        << QByteArray(
               "30 24 0:26 / /sys/fs/cgroup rw,nosuid shared:4 master:1 - cgroup2 cgroup2 rw\n")
        << QByteArray("/sys/fs/cgroup");
    QTest::newRow("v1 only") << QByteArray(
                                    "37 35 0:32 / /sys/fs/cgroup/memory rw - cgroup cgroup rw\n")
                             << QByteArray();
    QTest::newRow("cut short") << QByteArray("36 35 0:31 / - cgroup2\n") << QByteArray();
}

void TestUserRelease::cgroupMount()
{
    QFETCH(QByteArray, mountinfo);
    QFETCH(QByteArray, mount);
    QCOMPARE(QByteArray::fromStdString(
                 CgroupReclaim::cgroup2Mount(mountinfo.toStdString()).value_or("")),
             mount);
}

void TestUserRelease::delegatedGroup_data()
{
    QTest::addColumn<QByteArray>("procCgroup");
    QTest::addColumn<QByteArray>("group");
    const QByteArray slice("/user.slice/user-1000.slice/user@1000.service");
    QTest::newRow("an app of the user manager")
        << QByteArray("0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-x.scope\n")
        << slice;
    QTest::newRow("the manager itself") << "0::" + slice + "\n" << slice;
    QTest::newRow("a login session: the user's slice")
        << QByteArray("0::/user.slice/user-1000.slice/session-3.scope\n") << slice;
    QTest::newRow("another user's manager is not ours")
        << QByteArray("0::/user.slice/user-1001.slice/user@1001.service/app.slice\n") << slice;
    QTest::newRow("a look-alike name")
        << QByteArray("0::/x/user@1000.service-evil/app.slice\n") << slice;
    QTest::newRow("hybrid: only the unified line counts")
        << QByteArray("4:memory:/user.slice/user-1000.slice/user@1000.service/a\n0::/\n") << slice;
    QTest::newRow("nested deeper")
        << QByteArray(
               "0::/machine.slice/box/user.slice/user-1000.slice/user@1000.service/app.slice\n")
        << "/machine.slice/box" + slice;
}

void TestUserRelease::delegatedGroup()
{
    QFETCH(QByteArray, procCgroup);
    QFETCH(QByteArray, group);
    QCOMPARE(
        QByteArray::fromStdString(CgroupReclaim::delegatedGroup(procCgroup.toStdString(), 1000)),
        group);
}

void TestUserRelease::reclaimWritesTheUsersGroups()
{
    // The user manager's group keeps its reclaim file to systemd (here: it has none); the
    // groups below it are the user's own.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString group = QStringLiteral("/user.slice/user-1000.slice/user@1000.service");
    const QString base = root.path() + group;
    QVERIFY(put(root.path() + QLatin1String("/cgroup.controllers"), "cpuset cpu io memory pids\n"));
    QVERIFY(put(base + QLatin1String("/cgroup.controllers"), "cpu memory pids\n"));
    QVERIFY(put(base + QLatin1String("/memory.current"), "1000000\n"));
    QVERIFY(put(base + QLatin1String("/memory.stat"), "anon 10\npgsteal 5\n"));
    QVERIFY(put(base + QLatin1String("/app.slice/memory.current"), "700000\n"));
    QVERIFY(put(base + QLatin1String("/app.slice/memory.reclaim"), ""));
    QVERIFY(put(base + QLatin1String("/app.slice/memory.stat"), "pgscan 9\npgsteal 40\n"));
    QVERIFY(put(base + QLatin1String("/session.slice/memory.current"), "0\n"));
    QVERIFY(put(base + QLatin1String("/session.slice/memory.reclaim"), ""));
    QVERIFY(put(base + QLatin1String("/background.slice/memory.current"), "300000\n"));
    QVERIFY(put(base + QLatin1String("/background.slice/x.scope/memory.current"), "300000\n"));
    QVERIFY(put(base + QLatin1String("/background.slice/x.scope/memory.reclaim"), ""));
    QVERIFY(
        put(base + QLatin1String("/background.slice/x.scope/memory.stat"), "pgsteal garbage\n"));

    const auto r = CgroupReclaim(root.path().toStdString(), group.toStdString()).reclaim();
    QVERIFY(r.available);
    QVERIFY2(r.why.empty(), r.why.c_str());
    QCOMPARE(r.groups, 2u);
    // All each group holds is asked for.
    QCOMPARE(contents(base + QLatin1String("/app.slice/memory.reclaim")), QByteArray("700000"));
    QCOMPARE(contents(base + QLatin1String("/background.slice/x.scope/memory.reclaim")),
             QByteArray("300000"));
    // An empty group is left alone, and no reclaim file is ever made where there was none.
    QCOMPARE(contents(base + QLatin1String("/session.slice/memory.reclaim")), QByteArray());
    QCOMPARE(contents(base + QLatin1String("/memory.reclaim")), QByteArray("<absent>"));
    QCOMPARE(contents(base + QLatin1String("/background.slice/memory.reclaim")),
             QByteArray("<absent>"));
    // No kernel counted anything here, so nothing is reported.
    QCOMPARE(r.reclaimedBytes, quint64(0));

    QCOMPARE(CgroupReclaim::parsePgsteal("pgscan 9\npgsteal 40\npgsteal_kswapd 3\n").value_or(0),
             quint64(40));
    QVERIFY(!CgroupReclaim::parsePgsteal("pgsteal_direct 40\n"));
}

void TestUserRelease::reclaimThatCannotRun_data()
{
    QTest::addColumn<QByteArray>("rootControllers");
    QTest::addColumn<QByteArray>("groupControllers");
    QTest::addColumn<bool>("groupExists");
    QTest::newRow("memory on cgroup v1 (this machine)")
        << QByteArray("hugetlb\n") << QByteArray("") << true;
    QTest::newRow("memory not delegated")
        << QByteArray("cpu memory\n") << QByteArray("cpu pids\n") << true;
    QTest::newRow("no user manager") << QByteArray("cpu memory\n") << QByteArray() << false;
}

void TestUserRelease::reclaimThatCannotRun()
{
    QFETCH(QByteArray, rootControllers);
    QFETCH(QByteArray, groupControllers);
    QFETCH(bool, groupExists);
    QTemporaryDir root;
    const QString group = QStringLiteral("/user.slice/user-7.slice/user@7.service");
    QVERIFY(put(root.path() + QLatin1String("/cgroup.controllers"), rootControllers));
    if (groupExists) {
        QVERIFY(put(root.path() + group + QLatin1String("/cgroup.controllers"), groupControllers));
        QVERIFY(put(root.path() + group + QLatin1String("/app.slice/memory.current"), "5000\n"));
        QVERIFY(put(root.path() + group + QLatin1String("/app.slice/memory.reclaim"), ""));
    }
    const auto r = CgroupReclaim(root.path().toStdString(), group.toStdString()).reclaim();
    QVERIFY(!r.available);
    QVERIFY(!r.why.empty());
    QCOMPARE(r.groups, 0u);
    if (groupExists)
        QCOMPARE(contents(root.path() + group + QLatin1String("/app.slice/memory.reclaim")),
                 QByteArray());
    QVERIFY(!CgroupReclaim(std::string(), group.toStdString()).reclaim().available);
}

void TestUserRelease::reclaimOnThisMachine()
{
    const auto r = CgroupReclaim::forThisUser().reclaim();
    if (!r.available)
        QSKIP(qPrintable(QStringLiteral("memory.reclaim cannot run here: %1")
                             .arg(QString::fromStdString(r.why))));
    QVERIFY2(r.groups > 0, r.why.c_str());
}

void TestUserRelease::waysInOrder_data()
{
    QTest::addColumn<bool>("mayTouchAll");
    QTest::addColumn<bool>("serviceDone");
    QTest::addColumn<quint64>("groupBytes");
    QTest::addColumn<bool>("serviceAsked");
    QTest::addColumn<bool>("groupsAsked");
    QTest::addColumn<quint64>("released");
    QTest::addColumn<bool>("toldWhatWasLeft");

    QTest::newRow("privileged: every process itself")
        << true << true << quint64(0) << false << false << quint64(0) << false;
    QTest::newRow("the service released everything")
        << false << true << quint64(0) << true << false << quint64(777) << false;
    QTest::newRow("no service: the user's groups, and a line on the rest")
        << false << false << quint64(5000) << true << true << quint64(5000) << true;
    QTest::newRow("no service, nothing reclaimed")
        << false << false << quint64(0) << true << true << quint64(0) << true;
}

void TestUserRelease::waysInOrder()
{
    QFETCH(bool, mayTouchAll);
    QFETCH(bool, serviceDone);
    QFETCH(quint64, groupBytes);
    QFETCH(bool, serviceAsked);
    QFETCH(bool, groupsAsked);
    QFETCH(quint64, released);
    QFETCH(bool, toldWhatWasLeft);
    // Processes of the user's that no page-out can reach: a made-up /proc without maps.
    QTemporaryDir proc;
    QVERIFY(QDir(proc.path()).mkpath(QStringLiteral("4000000")));
    bool askedService = false, askedGroups = false;
    ReleaseWorkingSets::Ways ways;
    ways.mayTouchAll = mayTouchAll;
    ways.uid = ::getuid();
    ways.service = [&] {
        askedService = true;
        ServiceRelease::Answer a;
        a.done = serviceDone;
        a.releasedBytes = serviceDone ? 777 : 0;
        a.why = serviceDone ? "" : "not running";
        return a;
    };
    ways.ownGroups = [&] {
        askedGroups = true;
        CgroupReclaim::Result g;
        g.available = groupBytes > 0;
        g.groups = groupBytes > 0 ? 1 : 0;
        g.reclaimedBytes = groupBytes;
        return g;
    };
    const auto r = ReleaseWorkingSets(ways, proc.path().toStdString()).emptyWorkingSets({4000000});
    QCOMPARE(askedService, serviceAsked);
    QCOMPARE(askedGroups, groupsAsked);
    QCOMPARE(quint64(r.releasedBytes), released);
    QCOMPARE(!r.notReached.empty(), toldWhatWasLeft);
}

QTEST_GUILESS_MAIN(TestUserRelease)
#include "tst_userrelease.moc"

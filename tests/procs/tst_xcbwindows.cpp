// SPDX-License-Identifier: GPL-3.0-or-later
// The window walk on a real X server, with a window manager (VB_EXPECT_WM=1, its pid in
// VB_WM_PID) or without one: test clients show every kind of window the walk must tell apart.
#include "platform/fake/fakeprocs.h"
#include "platform/linux/identityvolumes.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/xcbwindows.h"
#include "procs/candidates.h"
#include "procs/procenum.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <map>
#include <memory>

using namespace vb::platform;

class TestXcbWindows : public QObject
{
    Q_OBJECT
    bool m_wm = false;
    std::map<QString, std::unique_ptr<QProcess>> m_clients;
    Platform m_backends;

    ProcessId pidOf(const QString& kind) const
    {
        return static_cast<ProcessId>(m_clients.at(kind)->processId());
    }

    QList<ProcessId> candidates()
    {
        QList<ProcessId> pids;
        enumWindowCandidates(m_backends.windows, [&](ProcessId pid) { pids << pid; });
        return pids;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run under an X server");
        m_wm = qEnvironmentVariableIntValue("VB_EXPECT_WM") == 1;
        QStringList kinds{"normal", "two",  "nopid",       "liarpid", "unmapped",
                          "owned",  "tool", "skiptaskbar", "override"};
        if (m_wm)
            kinds << "iconic";
        for (const QString& kind : kinds) {
            auto p = std::make_unique<QProcess>();
            p->start(QStringLiteral(VB_BIN_DIR "/vb_testwindow"), {kind});
            QVERIFY(p->waitForStarted());
            QVERIFY2(p->waitForReadyRead(10000), qPrintable(kind));
            QCOMPARE(p->readLine().trimmed(), QByteArray("ready"));
            m_clients[kind] = std::move(p);
        }
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        m_backends.windows = std::make_shared<linux_::XcbWindows>();
        m_backends.volumes = std::make_shared<linux_::IdentityVolumes>();
        m_backends.services = std::make_shared<fake::FakeServices>();
        systemWhiteJudge =
            std::make_shared<JudgeSystemWhite>(m_backends.processes, m_backends.windows);
    }
    void cleanupTestCase()
    {
        for (auto& c : m_clients) {
            c.second->kill();
            c.second->waitForFinished(3000);
        }
    }

    void windowsCarryTheirProcesses()
    {
        std::vector<TopLevelWindow> all;
        QVERIFY(m_backends.windows->topLevelWindows(all));
        std::map<ProcessId, std::vector<TopLevelWindow>> byPid;
        for (const TopLevelWindow& w : all)
            byPid[w.pid].push_back(w);
        // Checks of absence come first: the look-ups below add empty entries.
        if (m_wm) {
            // The manager lists its clients only: no override-redirect or unmapped windows.
            QVERIFY(!byPid.count(pidOf(QStringLiteral("override"))));
            QVERIFY(!byPid.count(pidOf(QStringLiteral("unmapped"))));
        }
        // Without _NET_WM_PID, or with a false one, the server still knows the client.
        for (const char* kind : {"normal", "nopid", "liarpid"}) {
            QVERIFY2(byPid.count(pidOf(QLatin1String(kind))), kind);
            const TopLevelWindow& w = byPid[pidOf(QLatin1String(kind))].front();
            QVERIFY2(w.visible && !w.owned && !w.tool, kind);
        }
        QCOMPARE(byPid[pidOf(QStringLiteral("two"))].size(), size_t(2));
        for (const TopLevelWindow& w : byPid[pidOf(QStringLiteral("owned"))])
            if (w.visible)
                QVERIFY(w.owned);
        for (const char* kind : {"tool", "skiptaskbar"})
            for (const TopLevelWindow& w : byPid[pidOf(QLatin1String(kind))])
                QVERIFY2(w.tool, kind);
        if (m_wm) {
            QVERIFY(
                byPid[pidOf(QStringLiteral("iconic"))].front().visible); // minimised is still shown
        } else {
            QVERIFY(byPid[pidOf(QStringLiteral("override"))].front().tool);
            // Without a manager the root's children include windows never mapped.
            QCOMPARE(byPid[pidOf(QStringLiteral("unmapped"))].size(), size_t(1));
            QVERIFY(!byPid[pidOf(QStringLiteral("unmapped"))].front().visible);
        }
    }

    void candidatesAreTheApplicationsOnce()
    {
        QList<ProcessId> expected;
        for (const char* kind : {"normal", "two", "nopid", "liarpid"})
            expected << pidOf(QLatin1String(kind));
        if (m_wm)
            expected << pidOf(QStringLiteral("iconic"));
        std::sort(expected.begin(), expected.end());
        QCOMPARE(candidates(), expected);
    }

    void theShellIsTheWindowManager()
    {
        const ProcessId shell = m_backends.windows->shellProcessId();
        if (!m_wm) {
            QCOMPARE(shell, 0u);
            return;
        }
        QCOMPARE(shell, static_cast<ProcessId>(qEnvironmentVariableIntValue("VB_WM_PID")));
        const auto paths = JudgeSystemWhite(m_backends.processes, m_backends.windows).shellPaths();
        QCOMPARE(paths.size(), size_t(1));
        QCOMPARE(QString::fromStdWString(paths.front()),
                 QFileInfo(QStringLiteral("/usr/bin/openbox")).canonicalFilePath());
    }

    void aPassListsTheApplicationsAsOptional()
    {
        const auto rows = enumerateForList(m_backends, std::make_shared<JudgeUserGame>(), {});
        QList<ProcessId> pids;
        for (const ProcListItem& r : *rows) {
            if (r.kind != PK_Process)
                continue;
            QCOMPARE(r.group, JR_Optional);
            QVERIFY(!r.select);
            QCOMPARE(QString::fromStdWString(r.path),
                     QFileInfo(QStringLiteral(VB_BIN_DIR "/vb_testwindow")).canonicalFilePath());
            QVERIFY(r.memory > 0);
            pids << r.pid;
        }
        QCOMPARE(pids, candidates());
        QCOMPARE(rows->front().kind, PK_OptionalHeader);
    }

    void aClientThatQuitsIsGone()
    {
        auto& p = m_clients.at(QStringLiteral("normal"));
        const ProcessId pid = pidOf(QStringLiteral("normal"));
        p->kill();
        QVERIFY(p->waitForFinished(5000));
        // The server drops the windows of a closed connection; ask until it has (bounded).
        bool gone = false;
        for (int i = 0; i < 200 && !gone; ++i) {
            gone = !candidates().contains(pid);
            if (!gone)
                QTest::qWait(10);
        }
        QVERIFY(gone);
    }

    void aLostServerIsAFailedWalkNotACrash()
    {
        linux_::XcbWindows nowhere(":98765");
        std::vector<TopLevelWindow> all;
        QVERIFY(!nowhere.topLevelWindows(all));
        QVERIFY(all.empty());
        QCOMPARE(nowhere.shellProcessId(), 0u);
    }
};

QTEST_GUILESS_MAIN(TestXcbWindows)
#include "tst_xcbwindows.moc"

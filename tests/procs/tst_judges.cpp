// SPDX-License-Identifier: GPL-3.0-or-later
// The white-list judge and the two user judges, over the table of which candidate lands where.
#include "../lib/processfakes.h"
#include "procs/processjudge.h"

#include <QtTest>

using namespace vb::platform;

Q_DECLARE_METATYPE(JudgeResult)

namespace {
ProcInfo process(ProcessId pid, const wchar_t* path)
{
    return ProcInfo(pid, path, 4096, nullptr, nullptr);
}
ProcInfo service(ProcessId pid, const wchar_t* name, const wchar_t* path = L"/usr/sbin/daemon")
{
    return ProcInfo(pid, path, 4096, name, L"A daemon");
}
} // namespace

class TestJudges : public QObject
{
    Q_OBJECT
    std::shared_ptr<fake::FakeProcesses> m_procs;
    std::shared_ptr<fake::FakeWindows> m_windows;

    void desktop(ProcessId shell, const std::string& shellImage)
    {
        m_procs = std::make_shared<fake::FakeProcesses>();
        m_procs->self = 777;
        m_windows = std::make_shared<fake::FakeWindows>();
        m_windows->shell = shell;
        if (shell)
            m_procs->procs[shell] = {shellImage, 1000, 0};
    }

private Q_SLOTS:
    void init() { vb::test::publishUserConfig(); }

    void white_data()
    {
        QTest::addColumn<uint>("pid");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("isService");
        QTest::addColumn<bool>("white");
        QTest::newRow("pid 0") << 0u << "/usr/bin/x" << false << true;
        QTest::newRow("pid 4") << 4u << "/usr/bin/x" << true << true;
        QTest::newRow("pid 5") << 5u << "/usr/bin/x" << false << false;
        QTest::newRow("ourselves") << 777u << "/opt/host/verdant-ball-host" << false << true;
        QTest::newRow("ourselves as a service host")
            << 777u << "/opt/host/verdant-ball-host" << true << true;
        QTest::newRow("the shell") << 300u << "/usr/bin/openbox" << false << true;
        QTest::newRow("the shell in capitals") << 301u << "/USR/BIN/OPENBOX" << false << true;
        QTest::newRow("the shell's path at the end of a longer one")
            << 302u << "/chroot/usr/bin/openbox" << false << true;
        QTest::newRow("another image of that name")
            << 303u << "/usr/local/bin/openbox" << false << false;
        QTest::newRow("the shell's image hosting a service")
            << 304u << "/usr/bin/openbox" << true << false;
        QTest::newRow("an application") << 305u << "/usr/bin/xterm" << false << false;
        QTest::newRow("shorter than the shell path") << 306u << "box" << false << false;
    }
    void white()
    {
        QFETCH(uint, pid);
        QFETCH(QString, path);
        QFETCH(bool, isService);
        QFETCH(bool, white);
        desktop(300, "/usr/bin/openbox");
        JudgeSystemWhite judge(m_procs, m_windows);
        const std::wstring p = path.toStdWString();
        const ProcInfo info(pid, p, 1, isService ? L"x.service" : nullptr, nullptr);
        QCOMPARE(judge.isWhite(info), white);
        QCOMPARE(judge.judge(info), white ? JR_White : JR_NONE);
    }

    void withoutAShellTheKnownNamesAreWhiteAnywhere()
    {
        desktop(0, std::string());
        JudgeSystemWhite judge(m_procs, m_windows);
        QVERIFY(judge.isWhite(process(400, L"/usr/local/bin/openbox")));
        QVERIFY(judge.isWhite(process(401, L"/usr/bin/gnome-shell")));
        QVERIFY(!judge.isWhite(process(402, L"/usr/bin/openboxer")));
        QVERIFY(!judge.isWhite(process(403, L"/usr/bin/xterm")));
    }

    void theShellIsLearntOnceAndKept()
    {
        desktop(300, "/usr/bin/openbox");
        JudgeSystemWhite judge(m_procs, m_windows);
        QVERIFY(judge.isWhite(process(500, L"/usr/bin/openbox")));
        // The desktop changes; the judge keeps what it learnt first, as the design says.
        m_windows->shell = 0;
        m_procs->self = 1;
        QVERIFY(judge.isWhite(process(500, L"/usr/bin/openbox")));
        QVERIFY(judge.isWhite(process(777, L"/x")));
        QVERIFY(!judge.isWhite(process(501, L"/usr/bin/gnome-shell")));
    }

    void userJudges_data()
    {
        QTest::addColumn<bool>("isService");
        QTest::addColumn<int>("flags"); // -1: absent from the file
        QTest::addColumn<JudgeResult>("office");
        QTest::addColumn<JudgeResult>("game");
        QTest::newRow("process") << false << -1 << JR_Optional << JR_Optional;
        QTest::newRow("process named in the file") << false << 3 << JR_Optional << JR_Optional;
        QTest::newRow("0x1") << true << 0x1 << JR_Advice << JR_NONE;
        QTest::newRow("0x2") << true << 0x2 << JR_NONE << JR_Advice;
        QTest::newRow("0x3") << true << 0x3 << JR_Advice << JR_Advice;
        QTest::newRow("0x11") << true << 0x11 << JR_Optional << JR_NONE;
        QTest::newRow("0x12") << true << 0x12 << JR_NONE << JR_Optional;
        QTest::newRow("0x13") << true << 0x13 << JR_Optional << JR_Optional;
        QTest::newRow("0x10") << true << 0x10 << JR_NONE << JR_NONE;
        QTest::newRow("0") << true << 0 << JR_NONE << JR_NONE;
        QTest::newRow("meaningless bits") << true << 0x1f5 << JR_Optional << JR_NONE;
        QTest::newRow("absent") << true << -1 << JR_NONE << JR_NONE;
    }
    void userJudges()
    {
        QFETCH(bool, isService);
        QFETCH(int, flags);
        QFETCH(JudgeResult, office);
        QFETCH(JudgeResult, game);
        if (flags >= 0)
            vb::test::publishUserConfig({{"Cups.Service", uint(flags)}});
        else
            vb::test::publishUserConfig({{"other.service", 3}});
        const ProcInfo info =
            isService ? service(600, L"cups.service") : process(600, L"/usr/bin/cups.service");
        JudgeUserOffice o;
        JudgeUserGame g;
        o.beginJudge();
        g.beginJudge();
        QCOMPARE(o.judge(info), office);
        QCOMPARE(g.judge(info), game);
        o.endJudge();
        g.endJudge();
        QVERIFY(o.isAvailable() && g.isAvailable());
    }

    void noConfigurationListsOnlyProcesses()
    {
        JudgeUserOffice o;
        o.beginJudge();
        QCOMPARE(o.judge(service(700, L"cups.service")), JR_NONE);
        QCOMPARE(o.judge(process(700, L"/usr/bin/xterm")), JR_Optional);
        o.endJudge();
    }

    void theConfigurationIsHeldOnlyDuringAPass()
    {
        vb::test::publishUserConfig({{"cups.service", 1}});
        JudgeUserOffice o;
        QVERIFY(!o.holdsConfig());
        QCOMPARE(o.judge(service(800, L"cups.service")), JR_NONE); // outside a pass
        o.beginJudge();
        QVERIFY(o.holdsConfig());
        // Published mid-pass: this pass keeps its reading, the next one takes the new.
        vb::test::publishUserConfig({{"cups.service", 0x11}});
        QCOMPARE(o.judge(service(800, L"cups.service")), JR_Advice);
        o.endJudge();
        QVERIFY(!o.holdsConfig());
        o.beginJudge();
        QCOMPARE(o.judge(service(800, L"cups.service")), JR_Optional);
        o.endJudge();
    }
};

QTEST_GUILESS_MAIN(TestJudges)
#include "tst_judges.moc"

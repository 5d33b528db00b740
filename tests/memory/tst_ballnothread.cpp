// SPDX-License-Identifier: GPL-3.0-or-later
// When no release thread can be made (here: a pids cgroup that admits no new task), the ball
// must not stay "releasing" for ever: it clears the flag, shows no note, and the next
// double click works.
#include "../lib/files.h"
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "ball/tipwin.h"
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/fake/fakememory.h"
#include "platform/fake/fakeplatform.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

namespace {

using vb::test::put;

// Moves this process into a new pids cgroup that allows no further task, and back again when
// it goes. With the pids controller in a v1 hierarchy the new group sits inside our own; on a
// unified (v2) hierarchy it is a child of the root, the one group that may both hold
// processes and hand controllers down to its children.
class NoNewTasks
{
public:
    NoNewTasks()
    {
        QFile self(QStringLiteral("/proc/self/cgroup"));
        if (!self.open(QIODevice::ReadOnly)) {
            m_why = QStringLiteral("no /proc/self/cgroup");
            return;
        }
        QString v2Home;
        for (const QByteArray& line : self.readAll().split('\n')) {
            if (line.contains(":pids:"))
                m_home = kRoot + QStringLiteral("/pids") +
                         QString::fromLatin1(line.mid(line.indexOf(":pids:") + 6));
            else if (line.startsWith("0::"))
                v2Home = kRoot + QString::fromLatin1(line.mid(3));
        }
        QString parent;
        if (!m_home.isEmpty()) {
            parent = m_home;
        } else if (!v2Home.isEmpty() && hasWord(kRoot + QStringLiteral("/cgroup.controllers"))) {
            m_home = v2Home;
            parent = kRoot;
            if (!hasWord(parent + QStringLiteral("/cgroup.subtree_control"))) {
                if (!put(parent + QStringLiteral("/cgroup.subtree_control"), "+pids")) {
                    m_why = QStringLiteral("cannot hand the pids controller down from the root");
                    return;
                }
                m_handedDown = true;
            }
        } else {
            m_why = QStringLiteral("no pids controller in any cgroup hierarchy");
            return;
        }
        m_dir = parent + QStringLiteral("/vb_nothread_%1").arg(::getpid());
        const QByteArray pid = QByteArray::number(::getpid());
        m_ok = QDir().mkpath(m_dir) && put(m_dir + QStringLiteral("/pids.max"), "1") &&
               put(m_dir + QStringLiteral("/cgroup.procs"), pid);
        if (!m_ok)
            m_why = QStringLiteral("cannot move into ") + m_dir;
    }
    ~NoNewTasks()
    {
        if (!m_home.isEmpty())
            put(m_home + QStringLiteral("/cgroup.procs"), QByteArray::number(::getpid()));
        if (!m_dir.isEmpty())
            QDir().rmdir(m_dir);
        if (m_handedDown)
            put(kRoot + QStringLiteral("/cgroup.subtree_control"), "-pids");
    }
    bool ok() const { return m_ok; }
    QString why() const { return m_why; }

private:
    static inline const QString kRoot = QStringLiteral("/sys/fs/cgroup");
    // True when the space-separated controller list in path names "pids".
    static bool hasWord(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) &&
               f.readAll().simplified().split(' ').contains(QByteArrayLiteral("pids"));
    }

    QString m_home;
    QString m_dir;
    QString m_why;
    bool m_handedDown = false; // the pids controller was off below the root until we came
    bool m_ok = false;
};

} // namespace

class TestBallNoThread : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void noThreadLeavesTheBallUsable();
};

void TestBallNoThread::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(::geteuid(), 0u);
}

void TestBallNoThread::noThreadLeavesTheBallUsable()
{
    auto memory = std::make_shared<vb::platform::fake::FakeSystemMemory>();
    vb::platform::Platform p = vb::test::BallFakes().platform();
    p.memory = memory;
    auto sets = std::make_shared<vb::platform::fake::FakeWorkingSets>();
    p.workingSets = sets;
    const vb::platform::Platform backends = vb::test::nativeExcept(p);

    BallViewer ball(nullptr, backends);
    QSignalSpy flag(&ball, &BallViewer::isEmptingMemorySetChanged);
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    {
        NoNewTasks limit;
        QVERIFY2(limit.ok(), qPrintable(limit.why()));
        QVERIFY(!vb::memory::startEmptingMemorySet(notifier,
                                                   vb::memory::ReleaseBackends::of(backends)));
        ball.MemoryStartEmptyMemorySet();
    }
    QCOMPARE(notifier.use_count(), 1L); // the failed start kept no reference
    QCOMPARE(flag.size(), 2);
    QCOMPARE(flag.at(0).at(0).toBool(), true);
    QCOMPARE(flag.at(1).at(0).toBool(), false);
    QVERIFY(!ball.isEmptingMemorySet());
    QTest::qWait(100);
    QVERIFY(sets->tried().empty()); // nothing ran

    // The next double click is served as usual; this process is among those it empties.
    sets->released[static_cast<vb::platform::ProcessId>(::getpid())] = 3u << 20;
    ball.MemoryStartEmptyMemorySet();
    QVERIFY(ball.isEmptingMemorySet());
    QTRY_VERIFY_WITH_TIMEOUT(!ball.isEmptingMemorySet(), 10000);
    TipWin* note = nullptr;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (auto* t = qobject_cast<TipWin*>(w))
            note = t;
    QVERIFY(note);
    QCOMPARE(note->text(), QStringLiteral("Released 3.00 MB memory for computer."));
}

QTEST_MAIN(TestBallNoThread)
#include "tst_ballnothread.moc"

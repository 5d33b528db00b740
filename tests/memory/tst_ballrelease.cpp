// SPDX-License-Identifier: GPL-3.0-or-later
// The release as the ball sees it: the running flag, one release at a time, the note's texts
// and its window (reused, forgotten when closed, placed above the ball at every edge), the
// note's document fading out, and the ball's document starting a release on a double click
// and swallowing the mouse while it runs.
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "ball/tipwin.h"
#include "platform/fake/fakememory.h"
#include "platform/fake/fakeplatform.h"
#include "platform/platform.h"
#include "testprocs.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlProperty>
#include <QQuickItem>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <future>
#include <mutex>
#include <thread>
#include <unistd.h>

using vb::platform::fake::FakeScreens;
using vb::platform::fake::FakeSystemMemory;
using vb::platform::fake::FakeWorkingSets;

namespace {

FakeSystemMemory::Reading freeBytes(quint64 bytes)
{
    FakeSystemMemory::Reading r;
    r.status.totalPhysBytes = quint64(16) << 30;
    r.status.freePhysBytes = bytes;
    r.status.availPhysBytes = bytes;
    return r;
}

QList<TipWin*> notes()
{
    QList<TipWin*> out;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (auto* t = qobject_cast<TipWin*>(w))
            out << t;
    return out;
}

constexpr quint64 kBase = quint64(2) << 30;

// The ball hands one memory backend to its sampling worker and to its releases. This one sends
// the worker's calls (from the thread that reads the CPU times) to their own readings, so a
// release that asked for the machine's figures would show in the release's own count.
class SamplerApart : public vb::platform::ISystemMemory
{
public:
    SamplerApart(std::shared_ptr<ISystemMemory> sampler, std::shared_ptr<ISystemMemory> release)
        : m_sampler(std::move(sampler)), m_release(std::move(release))
    {}
    bool memoryStatus(vb::platform::MemoryStatus& out) override
    {
        return target().memoryStatus(out);
    }
    bool systemTimes(vb::platform::SystemTimes& out) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_samplerThread = std::this_thread::get_id();
        }
        return m_sampler->systemTimes(out);
    }
    uint32_t tickCountMs() override { return target().tickCountMs(); }
    void sleepMs(uint32_t ms) override { target().sleepMs(ms); }

private:
    ISystemMemory& target()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::this_thread::get_id() == m_samplerThread ? *m_sampler : *m_release;
    }

    std::shared_ptr<ISystemMemory> m_sampler, m_release;
    std::mutex m_mutex;
    std::thread::id m_samplerThread;
};

} // namespace

class TestBallRelease : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void flagAndOneReleaseAtATime();
    void noteText_data();
    void noteText();
    void noteIsReused();
    void closedNoteIsForgotten();
    void placement_data();
    void placement();
    void noteFollowsTheBallToEveryEdge_data();
    void noteFollowsTheBallToEveryEdge();
    void noteDocumentFadesOutAndHides();
    void newTextWhileShownKeepsTheTimer();
    void doubleClickReleasesAndMouseIsSwallowed();
    void ballGoneWhileReleasing();

private:
    // Runs one release whose process gives up freed bytes; returns the note.
    TipWin* release(BallViewer& ball, quint64 freed);

    std::shared_ptr<FakeSystemMemory> m_memory;
    std::shared_ptr<FakeWorkingSets> m_sets;
    std::shared_ptr<vbtest::ListedProcesses> m_procs;
    std::shared_ptr<FakeScreens> m_screens;
    vb::platform::Platform m_backends;
};

void TestBallRelease::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestBallRelease::init()
{
    m_memory = std::make_shared<FakeSystemMemory>();
    m_sets = std::make_shared<FakeWorkingSets>();
    m_procs = std::make_shared<vbtest::ListedProcesses>();
    m_procs->ids = {static_cast<uint32_t>(::getpid())};
    const vb::test::BallFakes fakes;
    m_screens = fakes.screens;
    vb::platform::Platform p = fakes.platform();
    p.memory = m_memory;
    p.workingSets = m_sets;
    p.processes = m_procs;
    m_backends = vb::test::nativeExcept(p);
}

void TestBallRelease::cleanup()
{
    QTRY_VERIFY(notes().isEmpty()); // every ball took its note with it
}

TipWin* TestBallRelease::release(BallViewer& ball, quint64 freed)
{
    // Other programs give back far more meanwhile: the note tells only what the release freed.
    m_memory->script({freeBytes(kBase), freeBytes(kBase + (quint64(100) << 20))});
    m_sets->released = {{static_cast<uint32_t>(::getpid()), freed}};
    ball.MemoryStartEmptyMemorySet();
    if (!ball.isEmptingMemorySet())
        return nullptr;
    if (!QTest::qWaitFor([&] { return !ball.isEmptingMemorySet(); }, 10000))
        return nullptr;
    if (m_memory->statusCalls() != 0) // the machine's drifting figure is never asked
        return nullptr;
    const auto n = notes();
    return n.size() == 1 ? n.first() : nullptr;
}

void TestBallRelease::flagAndOneReleaseAtATime()
{
    BallViewer ball(nullptr, m_backends);
    QSignalSpy flag(&ball, &BallViewer::isEmptingMemorySetChanged);
    m_sets->released = {{static_cast<uint32_t>(::getpid()), quint64(5) << 20}};
    // Hold the worker inside the emptying so the release is surely still running.
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    m_sets->onEmpty = [open](vb::platform::ProcessId) { open.wait(); };

    QVERIFY(!ball.isEmptingMemorySet());
    ball.qmlReleaseMemory();
    QVERIFY(ball.isEmptingMemorySet());
    QCOMPARE(flag.size(), 1);
    QCOMPARE(flag.at(0).at(0).toBool(), true);
    ball.qmlReleaseMemory(); // a double click while it runs
    ball.MemoryStartEmptyMemorySet();
    QCOMPARE(flag.size(), 1);
    QTest::qWait(100);
    QVERIFY(ball.isEmptingMemorySet());
    QVERIFY(notes().isEmpty());
    gate.set_value();

    QTRY_VERIFY_WITH_TIMEOUT(!ball.isEmptingMemorySet(), 10000);
    QCOMPARE(flag.size(), 2);
    QCOMPARE(flag.at(1).at(0).toBool(), false);
    QVERIFY(!flag.wait(200)); // no second release was started
    QCOMPARE(m_sets->tried().size(), size_t(1));
    QCOMPARE(m_memory->sleeps(), std::vector<uint32_t>{3000});
    m_sets->onEmpty = nullptr;

    const auto n = notes();
    QCOMPARE(n.size(), 1);
    QCOMPARE(n.first()->text(), QStringLiteral("Released 5.00 MB memory for computer."));
    QVERIFY(n.first()->showFlag());
    QVERIFY(n.first()->isVisible());
}

void TestBallRelease::noteText_data()
{
    QTest::addColumn<quint64>("freed");
    QTest::addColumn<QString>("text");
    const QString good = QStringLiteral("Boosted. Your PC performance is good.");
    QTest::newRow("one mebibyte") << quint64(1048576)
                                  << QStringLiteral("Released 1.00 MB memory for computer.");
    QTest::newRow("one byte short") << quint64(1048575) << good;
    QTest::newRow("one and a half")
        << quint64(1572864) << QStringLiteral("Released 1.50 MB memory for computer.");
    QTest::newRow("a gibibyte") << (quint64(1) << 30)
                                << QStringLiteral("Released 1.00 GB memory for computer.");
    QTest::newRow("nothing paged out") << quint64(0) << good;
}

void TestBallRelease::noteText()
{
    QFETCH(quint64, freed);
    QFETCH(QString, text);
    BallViewer ball(nullptr, m_backends);
    TipWin* note = release(ball, freed);
    QVERIFY(note);
    QCOMPARE(note->text(), text);
    QVERIFY(note->showFlag());
    auto* item = note->rootObject()
                     ? note->rootObject()->findChild<QQuickItem*>(QStringLiteral("noteText"))
                     : nullptr;
    QVERIFY(item);
    QCOMPARE(item->property("text").toString(), text);
}

void TestBallRelease::noteIsReused()
{
    BallViewer ball(nullptr, m_backends);
    TipWin* first = release(ball, (quint64(3) << 20));
    QVERIFY(first);
    QSignalSpy texts(first, &TipWin::textChanged);
    QSignalSpy shows(first, &TipWin::showFlagChanged);
    QTRY_VERIFY_WITH_TIMEOUT(!first->showFlag(), 10000); // the document hid it
    QVERIFY(!first->isVisible());

    TipWin* second = release(ball, (quint64(3) << 20));
    QCOMPARE(second, first);
    QCOMPARE(texts.size(), 0); // the same message: no change signalled
    QVERIFY(second->isVisible());
    QCOMPARE(shows.size(), 2); // false by the document, true again by the ball

    TipWin* third = release(ball, 10);
    QCOMPARE(third, first);
    QCOMPARE(texts.size(), 1);
    QCOMPARE(texts.at(0).at(0).toString(), QStringLiteral("Boosted. Your PC performance is good."));
}

void TestBallRelease::closedNoteIsForgotten()
{
    BallViewer ball(nullptr, m_backends);
    QPointer<TipWin> first = release(ball, (quint64(2) << 20));
    QVERIFY(first);
    first->close();
    QTRY_VERIFY(first.isNull()); // a closed note goes away
    TipWin* second = release(ball, (quint64(2) << 20));
    QVERIFY(second);
    QCOMPARE(second->text(), QStringLiteral("Released 2.00 MB memory for computer."));
    QVERIFY(second->isVisible());
}

void TestBallRelease::placement_data()
{
    QTest::addColumn<QRect>("ball");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("note");
    const QRect screen(0, 0, 1920, 1040);
    QTest::newRow("middle") << QRect(800, 500, 120, 48) << screen << QPoint(800, 450);
    QTest::newRow("default corner") << QRect(1790, 962, 120, 48) << screen << QPoint(1760, 912);
    QTest::newRow("right edge") << QRect(1800, 500, 120, 48) << screen << QPoint(1760, 450);
    QTest::newRow("left edge") << QRect(0, 500, 120, 48) << screen << QPoint(0, 450);
    QTest::newRow("dragged past the left edge")
        << QRect(-30, 500, 120, 48) << screen << QPoint(0, 450);
    QTest::newRow("bottom edge") << QRect(800, 992, 120, 48) << screen << QPoint(800, 942);
    QTest::newRow("just room above") << QRect(800, 50, 120, 48) << screen << QPoint(800, 0);
    QTest::newRow("top edge: below instead") << QRect(800, 0, 120, 48) << screen << QPoint(800, 48);
    QTest::newRow("top right corner") << QRect(1800, 10, 120, 48) << screen << QPoint(1760, 58);
    QTest::newRow("tall skin") << QRect(600, 20, 170, 180) << screen << QPoint(600, 200);
    QTest::newRow("second screen")
        << QRect(3700, 30, 120, 48) << QRect(1920, 24, 1920, 1056) << QPoint(3680, 78);
    QTest::newRow("no screen known") << QRect(10, 10, 120, 48) << QRect() << QPoint(10, -40);
}

void TestBallRelease::placement()
{
    QFETCH(QRect, ball);
    QFETCH(QRect, area);
    QFETCH(QPoint, note);
    QCOMPARE(TipWin::placeAbove(ball, QSize(160, 50), area), note);
}

void TestBallRelease::noteFollowsTheBallToEveryEdge_data()
{
    QTest::addColumn<QPoint>("ball");
    QTest::addColumn<QPoint>("note");
    QTest::newRow("middle") << QPoint(700, 600) << QPoint(700, 550);
    QTest::newRow("left") << QPoint(0, 600) << QPoint(0, 550);
    QTest::newRow("right") << QPoint(1800, 600) << QPoint(1760, 550);
    QTest::newRow("bottom") << QPoint(700, 992) << QPoint(700, 942);
    QTest::newRow("top") << QPoint(700, 0) << QPoint(700, 48);
    QTest::newRow("top left") << QPoint(0, 0) << QPoint(0, 48);
    QTest::newRow("bottom right") << QPoint(1800, 992) << QPoint(1760, 942);
}

void TestBallRelease::noteFollowsTheBallToEveryEdge()
{
    QFETCH(QPoint, ball);
    QFETCH(QPoint, note);
    BallViewer b(nullptr, m_backends);
    b.resize(120, 48);
    b.setPosition(300, 300);
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    TipWin* tip = release(b, (quint64(4) << 20));
    QVERIFY(tip);
    QCOMPARE(tip->size(), QSize(160, 50));
    QTRY_COMPARE(tip->position(), QPoint(300, 250)); // shown above the ball
    b.setPosition(ball);
    QTRY_COMPARE(b.position(), ball);
    QTRY_COMPARE(tip->position(), note); // and follows it
}

void TestBallRelease::noteDocumentFadesOutAndHides()
{
    BallViewer ball(nullptr, m_backends);
    TipWin* note = release(ball, (quint64(8) << 20));
    QVERIFY(note);
    QQuickItem* root = note->rootObject();
    QVERIFY(root);
    QCOMPARE(root->size(), QSizeF(160, 50));
    QCOMPARE(root->property("state").toString(), QStringLiteral("working"));
    QTRY_COMPARE(root->opacity(), 1.0);
    QVERIFY(note->isVisible());
    // Fades out after its pause and tells the note to hide.
    QTRY_COMPARE_WITH_TIMEOUT(root->property("state").toString(), QStringLiteral("closing"), 10000);
    QVERIFY(note->showFlag()); // still shown while it fades
    QTRY_VERIFY_WITH_TIMEOUT(!note->showFlag(), 10000);
    QCOMPARE(root->opacity(), 0.0);
    QVERIFY(!note->isVisible());
    // The next release shows the same window again.
    QCOMPARE(release(ball, (quint64(8) << 20)), note);
    QVERIFY(note->isVisible());
    QCOMPARE(root->property("state").toString(), QStringLiteral("working"));
    QTRY_COMPARE(root->opacity(), 1.0);
}

void TestBallRelease::newTextWhileShownKeepsTheTimer()
{
    BallViewer ball(nullptr, m_backends);
    TipWin* note = release(ball, (quint64(8) << 20));
    QVERIFY(note);
    QQuickItem* root = note->rootObject();
    auto* text = root->findChild<QQuickItem*>(QStringLiteral("noteText"));
    QObject* timer = root->findChild<QObject*>(QStringLiteral("delayTimer"));
    QVERIFY(text && timer);
    QVERIFY(timer->property("running").toBool());
    QSignalSpy shows(note, &TipWin::showFlagChanged);
    QSignalSpy running(timer, SIGNAL(runningChanged()));
    note->setText(QStringLiteral("Something else"));
    QCOMPARE(text->property("text").toString(), QStringLiteral("Something else"));
    QVERIFY(note->showFlag());
    QCOMPARE(shows.size(), 0);
    QCOMPARE(running.size(), 0); // not stopped and started again
    QCOMPARE(root->property("state").toString(), QStringLiteral("working"));
    QTRY_VERIFY_WITH_TIMEOUT(!note->showFlag(), 10000);
}

void TestBallRelease::doubleClickReleasesAndMouseIsSwallowed()
{
    // The ball's sampling worker reads memory figures every second: give it readings of its
    // own, apart from the release's clock.
    auto samplerMemory = std::make_shared<FakeSystemMemory>();
    samplerMemory->script({freeBytes(kBase)});
    vb::platform::Platform backends = m_backends;
    backends.memory = std::make_shared<SamplerApart>(samplerMemory, m_memory);
    BallViewer ball(nullptr, backends);
    ball.setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    QVERIFY(ball.rootObject());
    ball.setPosition(400, 400);
    ball.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ball));
    const QPoint centre(ball.width() / 2, ball.height() / 2);

    // Without a release the ball can be dragged (so the check below can fail).
    QTest::mousePress(&ball, Qt::LeftButton, {}, centre);
    QTest::mouseMove(&ball, centre + QPoint(20, 0));
    QTest::mouseMove(&ball, centre + QPoint(40, 0));
    QTest::mouseRelease(&ball, Qt::LeftButton, {}, centre + QPoint(40, 0));
    QTRY_VERIFY(ball.position().x() > 400);
    ball.setPosition(400, 400);
    QTRY_COMPARE(ball.position(), QPoint(400, 400));
    QTest::qWait(500); // let the press above not count towards a double click

    m_sets->released = {{static_cast<uint32_t>(::getpid()), quint64(6) << 20}};
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    m_sets->onEmpty = [open](vb::platform::ProcessId) { open.wait(); };
    QTest::mouseDClick(&ball, Qt::LeftButton, {}, centre);
    QTRY_VERIFY(ball.isEmptingMemorySet());

    // While it runs: no drag, and no further release.
    QTest::qWait(500);
    QTest::mousePress(&ball, Qt::LeftButton, {}, centre);
    QTest::mouseMove(&ball, centre + QPoint(20, 0));
    QTest::mouseMove(&ball, centre + QPoint(40, 0));
    QTest::mouseRelease(&ball, Qt::LeftButton, {}, centre + QPoint(40, 0));
    QTest::mouseDClick(&ball, Qt::LeftButton, {}, centre);
    QTest::qWait(200);
    QCOMPARE(ball.position(), QPoint(400, 400));
    QCOMPARE(m_sets->tried().size(), size_t(1)); // the one release, held inside its emptying
    gate.set_value();
    QTRY_VERIFY_WITH_TIMEOUT(!ball.isEmptingMemorySet(), 10000);
    m_sets->onEmpty = nullptr;
    QCOMPARE(m_sets->tried().size(), size_t(1));
    QCOMPARE(notes().size(), 1);
    QCOMPARE(notes().first()->text(), QStringLiteral("Released 6.00 MB memory for computer."));
}

void TestBallRelease::ballGoneWhileReleasing()
{
    m_sets->released = {{static_cast<uint32_t>(::getpid()), quint64(6) << 20}};
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    m_sets->onEmpty = [open](vb::platform::ProcessId) { open.wait(); };
    {
        BallViewer ball(nullptr, m_backends);
        ball.MemoryStartEmptyMemorySet();
        QVERIFY(ball.isEmptingMemorySet());
    }
    gate.set_value(); // the worker finishes after the ball has gone
    QTRY_COMPARE_WITH_TIMEOUT(m_memory->sleeps().size(), size_t(1), 10000);
    QTest::qWait(200);
    m_sets->onEmpty = nullptr;
    QVERIFY(notes().isEmpty()); // nothing was delivered to the gone ball
}

QTEST_MAIN(TestBallRelease)
#include "tst_ballrelease.moc"

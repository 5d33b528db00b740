// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost Panel beside the ball, with a stand-in panel document: made once with what the
// ball publishes, placed beside the ball, the delayed show a cancel withdraws, the pin that
// holds on the Network page only, hiding when the focus goes, and a closed panel forgotten.
#include "../lib/testplatform.h"
#include "ball/popupcontroller.h"

#include <QQmlContext>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QtTest>

using vb::ball::PopupController;

class TestBallPopupController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void withoutDocumentNoPanel();
    void madeOnceBesideTheBall();
    void besideTheBall_data();
    void besideTheBall();
    void delayedShowAndCancel();
    void pin_data();
    void pin();
    void closedPanelIsForgotten();
    void neverShownPanelIsDeleted();

private:
    std::unique_ptr<PopupController> makeController();

    QTemporaryDir m_dir;
    QString m_document;
    vb::test::BallFakes m_fakes;
    std::unique_ptr<QWindow> m_ball;
    QObject m_published;
};

void TestBallPopupController::initTestCase()
{
    m_document = m_dir.filePath(QStringLiteral("panel.qml"));
    QFile f(m_document);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("import QtQuick\nItem { width: 330; height: 480; property var main: MainView }\n");
}

void TestBallPopupController::init()
{
    m_fakes = vb::test::BallFakes();
    m_ball = std::make_unique<QWindow>();
    m_ball->setGeometry(1790, 962, 120, 48);
}

std::unique_ptr<PopupController> TestBallPopupController::makeController()
{
    auto c =
        std::make_unique<PopupController>(m_ball.get(), m_fakes.screens, [this](QQmlContext* ctx) {
            ctx->setContextProperty(QStringLiteral("MainView"), &m_published);
        });
    c->setDocument(m_document);
    return c;
}

void TestBallPopupController::withoutDocumentNoPanel()
{
    auto c = makeController();
    QCOMPARE(c->document(), m_document);
    c->setDocument(m_dir.filePath(QStringLiteral("missing.qml")));
    QSignalSpy shown(c.get(), &PopupController::shown);
    QVERIFY(!c->ensureWindow());
    c->showNow();
    c->showDelayed();
    c->follow();
    c->setPinRequested(true);
    c->setOnNetworkPage(true);
    QVERIFY(!c->isPinned());
    QVERIFY(!c->window());
    QVERIFY(!shown.wait(PopupController::kDefaultDelayMs * 2));
}

void TestBallPopupController::madeOnceBesideTheBall()
{
    auto c = makeController();
    QSignalSpy shown(c.get(), &PopupController::shown);
    QVERIFY(c->ensureWindow());
    QmlApplicationViewer* panel = c->window();
    QVERIFY(panel && panel->rootObject());
    QCOMPARE(panel->rootObject()->property("main").value<QObject*>(), &m_published);
    QVERIFY(c->ensureWindow());
    QCOMPARE(c->window(), panel);
    QVERIFY(!panel->isVisible());

    c->showNow();
    QVERIFY(panel->isVisible());
    QCOMPARE(shown.size(), 1);
    // Left of the ball, moved up to stay in the work area.
    QCOMPARE(panel->position(), QPoint(1790 - 330, 1040 - 480));
    m_ball->setPosition(0, 100);
    c->follow();
    QCOMPARE(panel->position(), QPoint(120, 100));
    c->hide();
    QVERIFY(!panel->isVisible());
}

using Areas = std::vector<vb::platform::Rect>;
Q_DECLARE_METATYPE(Areas)

void TestBallPopupController::besideTheBall_data()
{
    // The panel is 330 x 480, the ball 120 x 48.
    QTest::addColumn<Areas>("areas");
    QTest::addColumn<QPoint>("ball");
    QTest::addColumn<QPoint>("panel");
    const vb::platform::Rect primary{0, 0, 1920, 1040};
    QTest::newRow("left edge") << Areas{primary} << QPoint(0, 100) << QPoint(120, 100);
    QTest::newRow("top edge") << Areas{primary} << QPoint(900, 0) << QPoint(570, 0);
    QTest::newRow("bottom edge") << Areas{primary} << QPoint(900, 992) << QPoint(570, 560);
    QTest::newRow("right edge") << Areas{primary} << QPoint(1800, 500) << QPoint(1470, 500);
    QTest::newRow("second screen on the right, its left edge")
        << Areas{primary, {1920, 0, 1280, 1024}} << QPoint(1925, 500) << QPoint(2045, 500);
    QTest::newRow("second screen on the left, its bottom edge")
        << Areas{primary, {-1280, 0, 1280, 1024}} << QPoint(-130, 976) << QPoint(-460, 544);
    QTest::newRow("second screen above, its bottom right corner")
        << Areas{primary, {0, -1080, 1920, 1040}} << QPoint(1790, -100) << QPoint(1460, -520);
}

void TestBallPopupController::besideTheBall()
{
    QFETCH(Areas, areas);
    QFETCH(QPoint, ball);
    QFETCH(QPoint, panel);
    m_fakes.screens->areas = areas;
    m_ball->setPosition(ball);
    auto c = makeController();
    c->showNow();
    QCOMPARE(c->window()->position(), panel);
}

void TestBallPopupController::delayedShowAndCancel()
{
    auto c = makeController();
    c->setDelayMs(50);
    QSignalSpy shown(c.get(), &PopupController::shown);
    c->showDelayed();
    QVERIFY(c->window());
    QVERIFY(!c->window()->isVisible());
    c->cancel(); // the second click of a double click
    QVERIFY(!shown.wait(200));
    QVERIFY(!c->window()->isVisible());
    c->showDelayed();
    QVERIFY(shown.wait());
    QVERIFY(c->window()->isVisible());
}

void TestBallPopupController::pin_data()
{
    QTest::addColumn<bool>("pinRequested");
    QTest::addColumn<bool>("networkPage");
    QTest::addColumn<bool>("stays");
    QTest::newRow("pinned on the Network page") << true << true << true;
    QTest::newRow("pinned on another page") << true << false << false;
    QTest::newRow("not pinned on the Network page") << false << true << false;
    QTest::newRow("not pinned") << false << false << false;
}

void TestBallPopupController::pin()
{
    QFETCH(bool, pinRequested);
    QFETCH(bool, networkPage);
    QFETCH(bool, stays);
    auto c = makeController();
    QSignalSpy pinSpy(c.get(), &PopupController::pinRequestChanged);
    c->setPinRequested(pinRequested);
    c->setPinRequested(pinRequested);
    QCOMPARE(pinSpy.size(), pinRequested ? 1 : 0);
    c->setOnNetworkPage(networkPage);
    QVERIFY(!c->isPinned()); // nothing to pin before there is a panel
    // Every way the panel goes unasked: a cancel, the panel losing the focus while the ball
    // has none (it is not even shown here), a screen capture.
    const std::function<void(PopupController&)> goes[] = {
        [](PopupController& p) { p.cancel(); },
        [](PopupController& p) { p.panelLostFocus(); },
        [](PopupController& p) { p.hideUnlessPinned(); },
    };
    for (const auto& go : goes) {
        c->showNow();
        QCOMPARE(c->isPinned(), stays);
        go(*c);
        QCOMPARE(c->window()->isVisible(), stays);
    }
    // Asked to hide, it goes anyway.
    c->hide();
    QVERIFY(!c->window()->isVisible());
}

void TestBallPopupController::closedPanelIsForgotten()
{
    auto c = makeController();
    c->showNow();
    QPointer<QmlApplicationViewer> first = c->window();
    QVERIFY(first);
    first->close();
    QVERIFY(!c->window());
    QTRY_VERIFY(!first); // it deletes itself
    c->showNow();
    QVERIFY(c->window());
    QVERIFY(c->window()->isVisible());
}

void TestBallPopupController::neverShownPanelIsDeleted()
{
    // A panel that was never shown gets no close event from close(); it must go all the same.
    auto c = makeController();
    QVERIFY(c->ensureWindow());
    QPointer<QmlApplicationViewer> panel = c->window();
    c->closeWindow();
    QVERIFY(!c->window());
    QVERIFY(!panel);
}

QTEST_MAIN(TestBallPopupController)
#include "tst_ballpopupcontroller.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's position memory: what it records comes back at the next start (kept on a screen),
// the hidden state, and the work area a window beside the ball is kept in.
#include "../lib/testplatform.h"
#include "ball/ballposition.h"
#include "helper/setsmanager.h"

#include <QtTest>

using vb::platform::Rect;

class TestBallPosition : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void recordedComesBack_data();
    void recordedComesBack();
    void hidden();
    void areaUnder_data();
    void areaUnder();
    void withoutScreens();

private:
    vb::test::BallFakes m_fakes;
};

void TestBallPosition::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestBallPosition::init()
{
    m_fakes = vb::test::BallFakes();
    m_fakes.screens->areas = {Rect{0, 0, 1920, 1040}, Rect{1920, 0, 1280, 1024}};
    for (const char* k : {"BallViewerX", "BallViewerY", "BallViewerHide"})
        SetsManager::removeValueUser(QLatin1String(k));
}

void TestBallPosition::recordedComesBack_data()
{
    QTest::addColumn<QPoint>("recorded");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("on the primary") << QPoint(300, 200) << QPoint(300, 200);
    QTest::newRow("on the second screen") << QPoint(2500, 500) << QPoint(2500, 500);
    QTest::newRow("over the right edge of the second screen")
        << QPoint(3100, 100) << QPoint(3200 - 120, 100);
    QTest::newRow("off every screen") << QPoint(-900, -900) << QPoint(0, 0);
}

void TestBallPosition::recordedComesBack()
{
    QFETCH(QPoint, recorded);
    QFETCH(QPoint, expected);
    const vb::ball::BallPosition position(m_fakes.screens);
    QCOMPARE(position.placeAtStart(QSize(120, 48)), QPoint(1790, 962)); // nothing recorded yet
    position.record(recorded);
    // A new ball (the next start) reads what the last one recorded.
    QCOMPARE(vb::ball::BallPosition(m_fakes.screens).placeAtStart(QSize(120, 48)), expected);
    QVERIFY(!SetsManager::readValueUser(QStringLiteral("BallViewerHide")).isValid());
}

void TestBallPosition::hidden()
{
    const vb::ball::BallPosition position(m_fakes.screens);
    position.recordHidden();
    QCOMPARE(SetsManager::readValueUser(QStringLiteral("BallViewerHide")).toBool(), true);
    QVERIFY(!SetsManager::readValueUser(QStringLiteral("BallViewerX")).isValid());
}

void TestBallPosition::areaUnder_data()
{
    QTest::addColumn<QRect>("ball");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("primary") << QRect(100, 100, 120, 48) << QRect(0, 0, 1920, 1040);
    QTest::newRow("second") << QRect(2000, 100, 120, 48) << QRect(1920, 0, 1280, 1024);
    QTest::newRow("across the edge, centre on the second")
        << QRect(1880, 100, 120, 48) << QRect(1920, 0, 1280, 1024);
    QTest::newRow("below the second screen: the primary")
        << QRect(2000, 1030, 120, 48) << QRect(0, 0, 1920, 1040);
}

void TestBallPosition::areaUnder()
{
    QFETCH(QRect, ball);
    QFETCH(QRect, expected);
    QCOMPARE(vb::ball::BallPosition(m_fakes.screens).areaUnder(ball), expected);
}

void TestBallPosition::withoutScreens()
{
    const vb::ball::BallPosition position(nullptr);
    QVERIFY(position.workAreas().empty());
    QCOMPARE(position.areaUnder(QRect(5, 5, 10, 10)), QRect());
    position.record(QPoint(40, 50));
    QCOMPARE(position.placeAtStart(QSize(120, 48)), QPoint(0, 0));
}

QTEST_GUILESS_MAIN(TestBallPosition)
#include "tst_ballposition.moc"

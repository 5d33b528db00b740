// SPDX-License-Identifier: GPL-3.0-or-later
// Where the ball and the panel land: saved positions, screen edges, several screens.
#include "ball/ballplacement.h"
#include "helper/baseview.h"

#include <QtTest>

using vb::platform::Rect;
Q_DECLARE_METATYPE(std::vector<Rect>)

class TestPlacement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ball_data();
    void ball();
    void panel_data();
    void panel();
};

void TestPlacement::ball_data()
{
    QTest::addColumn<QVariant>("x");
    QTest::addColumn<QVariant>("y");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<std::vector<Rect>>("areas");
    QTest::addColumn<QPoint>("expected");

    const std::vector<Rect> one{Rect{0, 0, 1920, 1040}};
    const QSize ball(120, 48);
    QTest::newRow("nothing saved: default corner")
        << QVariant() << QVariant() << ball << one << QPoint(1920 - 120 - 10, 1040 - 48 - 30);
    QTest::newRow("saved inside") << QVariant(300) << QVariant(200) << ball << one
                                  << QPoint(300, 200);
    QTest::newRow("saved as ini strings")
        << QVariant(QStringLiteral("300")) << QVariant(QStringLiteral("200")) << ball << one
        << QPoint(300, 200);
    QTest::newRow("left edge: negative x")
        << QVariant(-50) << QVariant(200) << ball << one << QPoint(0, 200);
    QTest::newRow("top edge: negative y")
        << QVariant(300) << QVariant(-5) << ball << one << QPoint(300, 0);
    QTest::newRow("right edge") << QVariant(5000) << QVariant(200) << ball << one
                                << QPoint(1800, 200);
    QTest::newRow("bottom edge") << QVariant(300) << QVariant(5000) << ball << one
                                 << QPoint(300, 992);
    QTest::newRow("exactly at the maximum")
        << QVariant(1800) << QVariant(992) << ball << one << QPoint(1800, 992);
    QTest::newRow("x not a number, y kept")
        << QVariant(QStringLiteral("left")) << QVariant(100) << ball << one << QPoint(1790, 100);
    QTest::newRow("y not a number, x kept")
        << QVariant(40) << QVariant(QStringLiteral("1e3")) << ball << one << QPoint(40, 962);
    QTest::newRow("huge number that overflows int")
        << QVariant(QStringLiteral("99999999999")) << QVariant(QStringLiteral("-99999999999"))
        << ball << one << QPoint(1790, 962);
    QTest::newRow("a list instead of a number") << QVariant(QStringList{QStringLiteral("1")})
                                                << QVariant(10) << ball << one << QPoint(1790, 10);
    QTest::newRow("work area smaller than the ball")
        << QVariant(50) << QVariant(50) << ball << std::vector<Rect>{Rect{0, 0, 100, 40}}
        << QPoint(0, 0);
    QTest::newRow("area with a panel on top: default keeps off it")
        << QVariant() << QVariant() << ball << std::vector<Rect>{Rect{0, 32, 1280, 768}}
        << QPoint(1280 - 130, 32 + 768 - 78);
    QTest::newRow("area with a panel on top: saved y under it is moved down")
        << QVariant(10) << QVariant(5) << ball << std::vector<Rect>{Rect{0, 32, 1280, 768}}
        << QPoint(10, 32);

    const std::vector<Rect> two{Rect{0, 0, 1920, 1040}, Rect{1920, 0, 1280, 1024}};
    QTest::newRow("two screens: stays on the second")
        << QVariant(2500) << QVariant(500) << ball << two << QPoint(2500, 500);
    QTest::newRow("two screens: clamped into the second")
        << QVariant(3100) << QVariant(990) << ball << two << QPoint(3200 - 120, 1024 - 48);
    QTest::newRow("two screens: off every screen goes to the primary")
        << QVariant(9000) << QVariant(9000) << ball << two << QPoint(1800, 992);
    QTest::newRow("primary on the right of a second screen")
        << QVariant() << QVariant() << ball
        << std::vector<Rect>{Rect{1280, 0, 1920, 1080}, Rect{0, 0, 1280, 1024}}
        << QPoint(1280 + 1920 - 130, 1080 - 78);
    QTest::newRow("no screens at all")
        << QVariant(10) << QVariant(10) << ball << std::vector<Rect>{} << QPoint(0, 0);
}

void TestPlacement::ball()
{
    QFETCH(QVariant, x);
    QFETCH(QVariant, y);
    QFETCH(QSize, size);
    QFETCH(std::vector<Rect>, areas);
    QFETCH(QPoint, expected);
    QCOMPARE(vb::ball::placeBall(x, y, size, areas).pos, expected);
}

void TestPlacement::panel_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QPoint>("ball");
    QTest::addColumn<QPoint>("expected");
    const QRect screen(0, 0, 1920, 1040);
    const QSize panel(330, 480);
    QTest::newRow("ball at the bottom right: left of it, moved up")
        << screen << panel << QPoint(1790, 962) << QPoint(1790 - 330, 1040 - 480);
    QTest::newRow("ball at the left edge: right of it")
        << screen << panel << QPoint(0, 100) << QPoint(120, 100);
    QTest::newRow("ball at the top: tops aligned")
        << screen << panel << QPoint(900, 0) << QPoint(570, 0);
    QTest::newRow("no room on either side: overlaps on the wider side")
        << QRect(0, 0, 500, 600) << panel << QPoint(200, 50) << QPoint(0, 50);
    QTest::newRow("area smaller than the panel: top-left visible")
        << QRect(0, 0, 200, 200) << panel << QPoint(10, 10) << QPoint(0, 0);
    QTest::newRow("area with an origin")
        << QRect(1920, 40, 1280, 984) << panel << QPoint(1920, 500) << QPoint(2040, 500);
    QTest::newRow("area with an origin: moved up inside it")
        << QRect(1920, 40, 1280, 984) << panel << QPoint(1920, 900) << QPoint(2040, 40 + 984 - 480);
}

void TestPlacement::panel()
{
    QFETCH(QRect, area);
    QFETCH(QSize, panel);
    QFETCH(QPoint, ball);
    QFETCH(QPoint, expected);
    const QPoint p = BaseView::calcPos(area, QRect(QPoint(), panel), ball, QRect(0, 0, 120, 48));
    QCOMPARE(p, expected);
    // Wherever it goes, the panel never leaves an area that can hold it.
    if (area.width() >= panel.width() && area.height() >= panel.height())
        QVERIFY(area.contains(QRect(p, panel)));
}

QTEST_GUILESS_MAIN(TestPlacement)
#include "tst_placement.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The outline a ball window cuts itself to on desktops without compositing.
#include "ball/ballshape.h"

#include <QPainter>
#include <QtTest>

class TestBallShape : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void threshold_data();
    void threshold();
    void round();
    void shippedFace();
};

void TestBallShape::threshold_data()
{
    QTest::addColumn<int>("alpha");
    QTest::addColumn<bool>("inside");
    QTest::newRow("clear") << 0 << false;
    QTest::newRow("faint shadow") << 95 << false;
    QTest::newRow("at the limit") << 96 << true;
    QTest::newRow("opaque") << 255 << true;
}

void TestBallShape::threshold()
{
    QFETCH(int, alpha);
    QFETCH(bool, inside);
    QImage img(20, 10, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    for (int y = 2; y < 8; ++y)
        for (int x = 5; x < 15; ++x)
            img.setPixel(x, y, qRgba(alpha, alpha, alpha, alpha));
    const QRegion r = vb::ball::shapeOf(img);
    QCOMPARE(r, inside ? QRegion(5, 2, 10, 6) : QRegion());
}

void TestBallShape::round()
{
    QImage img(60, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(10, 5, 30, 30));
        p.drawRect(45, 10, 10, 4); // a second, separate piece
    }
    const QRegion r = vb::ball::shapeOf(img);
    QVERIFY(r.contains(QPoint(25, 20)));
    QVERIFY(r.contains(QPoint(50, 12)));
    QVERIFY(!r.contains(QPoint(11, 6)));  // the ellipse's corner
    QVERIFY(!r.contains(QPoint(42, 12))); // between the pieces
    QVERIFY(!r.contains(QPoint(0, 0)));
    QCOMPARE(r.boundingRect(), QRect(10, 5, 45, 30));
}

// The snowman: his hat and belly are in, the sky around his head is out.
void TestBallShape::shippedFace()
{
    const QImage img(QStringLiteral(
        VB_SOURCE_DIR "/src/qml/Ball/Skins/BallSkins/Christmas/Christmas_170x180.png"));
    QVERIFY(!img.isNull());
    const QRegion r = vb::ball::shapeOf(img);
    QVERIFY(r.contains(QPoint(85, 120)));
    QVERIFY(r.contains(QPoint(85, 10)));
    QVERIFY(!r.contains(QPoint(40, 40)));
    QVERIFY(!r.contains(QPoint(2, 2)));
}

QTEST_GUILESS_MAIN(TestBallShape)
#include "tst_ballshape.moc"

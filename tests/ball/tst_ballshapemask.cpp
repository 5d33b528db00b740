// SPDX-License-Identifier: GPL-3.0-or-later
// Cutting a window to what it draws: only while a change settles or an animation runs, to the
// drawn pixels (scaled to the window), never to nothing, and never re-entered by its own grab.
#include "ball/shapemask.h"

#include <QPainter>
#include <QQuickWindow>
#include <QtTest>

namespace {
// A frame of size whose left half (or nothing) is drawn.
QImage frame(const QSize& size, bool leftHalfDrawn)
{
    QImage img(size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    if (leftHalfDrawn)
        QPainter(&img).fillRect(QRect(0, 0, size.width() / 2, size.height()), Qt::red);
    return img;
}
} // namespace

class TestBallShapeMask : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cut_data();
    void cut();
    void idleWindowIsNotGrabbed();
    void ownGrabDoesNotReenter();
    void nullFrameKeepsTheMask();
};

void TestBallShapeMask::cut_data()
{
    QTest::addColumn<QImage>("grabbed");
    QTest::addColumn<QRegion>("expected");
    QTest::newRow("the drawn half") << frame(QSize(100, 50), true) << QRegion(0, 0, 50, 50);
    QTest::newRow("a frame at twice the size is scaled")
        << frame(QSize(200, 100), true) << QRegion(0, 0, 50, 50);
    QTest::newRow("nothing drawn keeps the window whole")
        << frame(QSize(100, 50), false) << QRegion(0, 0, 100, 50);
}

void TestBallShapeMask::cut()
{
    QFETCH(QImage, grabbed);
    QFETCH(QRegion, expected);
    for (const bool animating : {false, true}) {
        QQuickWindow window;
        window.resize(100, 50);
        vb::ball::ShapeMask mask(&window, [&] { return grabbed; });
        if (animating)
            mask.setAnimating(true);
        else
            mask.settleSoon();
        mask.onFrameSwapped();
        QCOMPARE(window.mask(), expected);
    }
}

void TestBallShapeMask::idleWindowIsNotGrabbed()
{
    QQuickWindow window;
    window.resize(100, 50);
    int grabs = 0;
    vb::ball::ShapeMask mask(&window, [&] {
        ++grabs;
        return frame(QSize(100, 50), true);
    });
    mask.onFrameSwapped();
    QCOMPARE(grabs, 0);
    QVERIFY(window.mask().isEmpty());
}

void TestBallShapeMask::ownGrabDoesNotReenter()
{
    QQuickWindow window;
    window.resize(100, 50);
    int grabs = 0;
    vb::ball::ShapeMask* self = nullptr;
    vb::ball::ShapeMask mask(&window, [&] {
        ++grabs;
        self->onFrameSwapped(); // a grab renders a frame of its own
        return frame(QSize(100, 50), true);
    });
    self = &mask;
    mask.settleSoon();
    mask.onFrameSwapped();
    QCOMPARE(grabs, 1);
    QCOMPARE(window.mask(), QRegion(0, 0, 50, 50));
}

void TestBallShapeMask::nullFrameKeepsTheMask()
{
    QQuickWindow window;
    window.resize(100, 50);
    window.setMask(QRegion(0, 0, 10, 10));
    vb::ball::ShapeMask mask(&window, [] { return QImage(); });
    mask.settleSoon();
    mask.onFrameSwapped();
    QCOMPARE(window.mask(), QRegion(0, 0, 10, 10));
}

QTEST_MAIN(TestBallShapeMask)
#include "tst_ballshapemask.moc"

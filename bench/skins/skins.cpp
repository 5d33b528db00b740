// SPDX-License-Identifier: GPL-3.0-or-later
// What skins cost: rebuilding the catalogue with many user skins, cutting a face's shape out
// of a frame, and the ball wearing another skin until its window has the new size.
#include "ball/ballshape.h"
#include "helper/hostenvironment.h"
#include "helper/setsgeneral.h"
#include "skins/skinslist.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The ball's objects as far as the documents need them for wearing a skin.
class Ball : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEmptingMemorySet READ no CONSTANT)
public:
    bool no() const { return false; }
    Q_INVOKABLE void qmlWindowResize(int, int) {}
};
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);

    QTemporaryDir dir;
    const int userSkins = 200;
    for (int i = 0; i < userSkins; ++i) {
        const QString f =
            dir.path() + QStringLiteral("/BallSkins/skin%1").arg(i, 3, 10, QLatin1Char('0'));
        QDir().mkpath(f);
        QFile(f + QStringLiteral("/main.qml")).open(QIODevice::WriteOnly);
        QFile(f + QStringLiteral("/icon.png")).open(QIODevice::WriteOnly);
    }
    SetsGeneral::setAppPathForTests(dir.path());
    SkinsList skins;
    std::vector<double> load;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer t;
        t.start();
        skins.loadSkins();
        load.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("catalogue of %d skins rebuilt: %.2f ms (median of 30)\n", int(skins.rowCount()),
                median(load));

    const QImage face(QStringLiteral(":/Ball/Skins/BallSkins/Christmas/Christmas_170x180.png"));
    std::vector<double> shape;
    int rects = 0;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer t;
        t.start();
        const QRegion r = vb::ball::shapeOf(face);
        shape.push_back(t.nsecsElapsed() / 1e3);
        rects = r.rectCount();
    }
    std::printf("shape of the 170 x 180 Christmas face: %.1f us, %d rectangles (median of 200)\n",
                median(shape), rects);

    Ball ball;
    QQuickView view;
    HostEnvironment::instance().attach(view.engine());
    view.rootContext()->setContextProperty(QStringLiteral("Bv"), &ball);
    view.rootContext()->setContextProperty(QStringLiteral("EP"), &ball);
    view.rootContext()->setContextProperty(QStringLiteral("SkinsList"), &skins);
    view.setResizeMode(QQuickView::SizeViewToRootObject);
    view.setSource(QUrl(QStringLiteral("qrc:/Ball/Skins/BallView.qml")));
    view.show();
    const QString faces[] = {QStringLiteral("qrc:/Ball/Skins/BallSkins/Christmas/main.qml"),
                             QStringLiteral("qrc:/Ball/Skins/BallSkinDef.qml")};
    const double heights[] = {180, 48};
    std::vector<double> wear;
    for (int i = 0; i < 40; ++i) {
        QElapsedTimer t;
        t.start();
        skins.setCurrentSkin(faces[i % 2]);
        while (view.rootObject()->height() != heights[i % 2] && t.elapsed() < 5000)
            QCoreApplication::processEvents();
        wear.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("ball wears another skin (document loaded, ball resized): %.2f ms (median of 40)\n",
                median(wear));
    return 0;
}

#include "skins.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The baseline: a bare QQuickView with an empty document, reporting its first frame.
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickView>

int main(int argc, char** argv)
{
    // The same renderer the host picks, so the figures compare like with like.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    QQuickView view;
    view.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    QQmlComponent empty(view.engine());
    empty.setData("import QtQuick\nItem { width: 120; height: 48 }", QUrl());
    view.setContent(QUrl(), &empty, empty.create());
    bool once = false;
    QObject::connect(&view, &QQuickWindow::frameSwapped, &view, [&once] {
        if (!once) {
            once = true;
            qInfo("verdant-ball-host: ball shown");
        }
    });
    view.show();
    return app.exec();
}

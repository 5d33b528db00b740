// SPDX-License-Identifier: GPL-3.0-or-later
// The baselines: a bare QQuickView in the ball's window flags. Alone it shows an empty document
// and reports its first frame (the start-up baseline). With --live it does the ball's visible
// work and nothing more: once a second it reads /proc/meminfo and /proc/stat and shows the memory
// and CPU load in two lines (the idle baseline).
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickView>
#include <QTimer>

#include <array>
#include <cstring>

namespace {

// Percent of memory in use, from MemTotal and MemAvailable; -1 when unreadable.
int memoryLoad()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 total = 0, avail = -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.simplified().split(' ');
        if (w.size() < 2)
            continue;
        if (w[0] == "MemTotal:")
            total = w[1].toLongLong();
        else if (w[0] == "MemAvailable:")
            avail = w[1].toLongLong();
    }
    return total > 0 && avail >= 0 ? int(100 * (total - avail) / total) : -1;
}

// The "cpu" line of /proc/stat: busy and all ticks since boot.
std::array<qint64, 2> cpuTicks()
{
    QFile f(QStringLiteral("/proc/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> w = f.readLine().simplified().split(' ');
    qint64 all = 0, idle = 0;
    for (int i = 1; i < w.size(); ++i) {
        all += w[i].toLongLong();
        if (i == 4 || i == 5) // idle and iowait
            idle += w[i].toLongLong();
    }
    return {all - idle, all};
}

} // namespace

int main(int argc, char** argv)
{
    const bool live = argc > 1 && std::strcmp(argv[1], "--live") == 0;
    // The renderer the host picks, so that the figures compare like with like.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    QQuickView view;
    view.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    QQmlComponent doc(view.engine());
    doc.setData(live ? "import QtQuick\n"
                       "Rectangle { width: 120; height: 48; color: \"#2e7d32\"\n"
                       "  property string ram; property string cpu\n"
                       "  Column { anchors.centerIn: parent\n"
                       "    Text { text: ram; color: \"white\" }\n"
                       "    Text { text: cpu; color: \"white\" } } }"
                     : "import QtQuick\nItem { width: 120; height: 48 }",
                QUrl());
    view.setContent(QUrl(), &doc, doc.create());
    QQuickItem* root = view.rootObject();
    if (!root)
        return 1;
    bool once = live; // only the start-up baseline reports its first frame
    QObject::connect(&view, &QQuickWindow::frameSwapped, &view, [&once] {
        if (!once) {
            once = true;
            qInfo("verdant-ball-host: ball shown");
        }
    });
    std::array<qint64, 2> last = live ? cpuTicks() : std::array<qint64, 2>{};
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, root, [root, &last] {
        const std::array<qint64, 2> now = cpuTicks();
        const qint64 all = now[1] - last[1];
        const int cpu = all > 0 ? int(100 * (now[0] - last[0]) / all) : 0;
        last = now;
        root->setProperty("ram", QStringLiteral("RAM %1%").arg(memoryLoad()));
        root->setProperty("cpu", QStringLiteral("CPU %1%").arg(cpu));
    });
    if (live)
        tick.start(1000);
    view.show();
    return app.exec();
}

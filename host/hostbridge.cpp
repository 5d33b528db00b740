// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostbridge.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

void HostBridge::showBall()
{
    if (m_showBall)
        m_showBall();
}

void HostBridge::refreshList()
{
    if (m_refreshList)
        m_refreshList();
}

void HostBridge::onLastFix(uint count, quint64 bytes)
{
    qInfo("verdant-ball-host: boost closed %u, %llu bytes", count,
          static_cast<unsigned long long>(bytes));
}

void HostBridge::onToCleanPage()
{
    ++m_cleanRequests;
    qInfo("verdant-ball-host: asked to clean (%d)", m_cleanRequests);
    Q_EMIT cleanRequestsChanged();
}

void HostBridge::quit()
{
    QCoreApplication::quit();
}

QString HostBridge::saveCapture(const QImage& image)
{
    if (image.isNull())
        return QString();
    QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QDir().mkpath(dir);
    QString path =
        dir +
        QStringLiteral("/Screen capture %1.png")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh.mm.ss")));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "verdant-ball-host: the capture could not be saved to %s\n",
                     qPrintable(path));
        return QString();
    }
    std::printf("verdant-ball-host: capture saved to %s\n", qPrintable(path));
    std::fflush(stdout);
    tellUser(path);
    return path;
}

void HostBridge::tellUser(const QString& savedPath)
{
    // The capture window is gone by now: a desktop notification says where the picture went.
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    m << QStringLiteral("Verdant Suite") << 0u << QStringLiteral("image-x-generic")
      << QStringLiteral("Screen capture saved") << savedPath << QStringList() << QVariantMap()
      << -1;
    QDBusConnection::sessionBus().call(m, QDBus::NoBlock);
}

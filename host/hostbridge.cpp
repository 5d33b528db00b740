// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostbridge.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

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
    if (!image.save(path, "PNG"))
        return QString();
    qInfo("verdant-ball-host: capture saved to %s", qPrintable(path));
    return path;
}

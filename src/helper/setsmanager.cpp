// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/setsmanager.h"
#include "helper/helperlogging.h"
#include "helper/setsgeneral.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace {
QString g_appPathOverride;

QSettings& store()
{
    static QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
    return s;
}
} // namespace

QString SetsGeneral::appPath()
{
    if (!g_appPathOverride.isEmpty())
        return g_appPathOverride;
    return QDir::cleanPath(QCoreApplication::applicationDirPath());
}

void SetsGeneral::setAppPathForTests(const QString& path)
{
    g_appPathOverride = path.isEmpty() ? QString() : QDir::cleanPath(path);
}

QString SetsGeneral::userDataPath(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/verdant-ball/") + name;
}

QString SetsGeneral::userConfigPath(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/verdant-ball/") + name;
}

QString SetsManager::userFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VerdantSuite/VerdantBall.ini");
}

QVariant SetsManager::readValueUser(const QString& key, const QVariant& def)
{
    QSettings& s = store();
    if (s.status() != QSettings::NoError) {
        qCWarning(lcHelper).noquote()
            << "SetsManager: settings unreadable, using defaults:" << userFilePath();
        return def;
    }
    return s.value(key, def);
}

void SetsManager::saveValueUser(const QString& key, const QVariant& value)
{
    QSettings& s = store();
    s.setValue(key, value);
    s.sync();
}

void SetsManager::removeValueUser(const QString& key)
{
    QSettings& s = store();
    s.remove(key);
    s.sync();
}

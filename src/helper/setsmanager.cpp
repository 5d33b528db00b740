// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/setsmanager.h"
#include "helper/helperlogging.h"
#include "helper/setsgeneral.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace {
QString g_appPathOverride;

struct Store
{
    // Null when the settings path is no regular file (a FIFO would block every read).
    std::unique_ptr<QSettings> file;
    // What was saved in this session, consulted once the file cannot take it (or is unusable),
    // so choices hold until the program ends.
    QVariantMap session;
    bool saveFailed = false;
};

Store& store()
{
    static Store s = [] {
        Store st;
        const QString path = SetsManager::userFilePath();
        const QFileInfo fi(path);
        if (fi.exists() && !fi.isFile())
            qCWarning(lcHelper).noquote() << "SetsManager:" << path
                                          << "is not a regular file; settings are defaults and"
                                             " choices last until the program ends";
        else
            st.file = std::make_unique<QSettings>(path, QSettings::IniFormat);
        return st;
    }();
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
    Store& s = store();
    if (!s.file || s.saveFailed) {
        const auto saved = s.session.constFind(key);
        if (saved != s.session.cend())
            return saved->isValid() ? *saved : def;
    }
    if (!s.file)
        return def;
    // A failed write (AccessError) leaves what was read usable; only an unparsable file is not.
    if (s.file->status() == QSettings::FormatError) {
        qCWarning(lcHelper).noquote()
            << "SetsManager: settings unreadable, using defaults:" << userFilePath();
        return def;
    }
    return s.file->value(key, def);
}

void SetsManager::saveValueUser(const QString& key, const QVariant& value)
{
    Store& s = store();
    s.session.insert(key, value);
    if (!s.file)
        return;
    s.file->setValue(key, value);
    s.file->sync();
    if (s.file->status() == QSettings::AccessError && !s.saveFailed) {
        s.saveFailed = true;
        qCWarning(lcHelper).noquote() << "SetsManager: cannot write" << userFilePath()
                                      << "; choices last until the program ends";
    }
}

void SetsManager::removeValueUser(const QString& key)
{
    Store& s = store();
    // An invalid value stands for "removed" in this session, over whatever the file holds.
    s.session.insert(key, QVariant());
    if (!s.file)
        return;
    s.file->remove(key);
    s.file->sync();
}

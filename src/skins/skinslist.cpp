// SPDX-License-Identifier: GPL-3.0-or-later
#include "skins/skinslist.h"

#include "core/logging.h"
#include "helper/setsgeneral.h"
#include "helper/setsmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

const QString SkinsList::kDefaultSkin = QStringLiteral("qrc:/Ball/Skins/BallSkinDef.qml");
const QString SkinsList::kDefaultIcon = QStringLiteral(":/Ball/Images/default_skin.png");
const QString SkinsList::kBuiltInFolder = QStringLiteral(":/Ball/Skins/BallSkins");
const QString SkinsList::kUserFolderName = QStringLiteral("BallSkins");
const QString SkinsList::kSettingKey = QStringLiteral("BallSkin");

namespace {
bool isResourceValue(const QString& value)
{
    return value.startsWith(QLatin1String("qrc:/"), Qt::CaseInsensitive);
}

// Built by QUrl rather than glued from strings: a folder named "a#b", "x?y" or "%41" must
// stay part of the path instead of becoming a fragment, a query or a decoded "A".
QString fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}
} // namespace

SkinsList::SkinsList(QObject* parent) : QAbstractListModel(parent)
{
    const QString stored = SetsManager::readValueUser(kSettingKey, kDefaultSkin).toString();
    if (skinExists(stored)) {
        m_current = stored;
    } else {
        // The setting stays as it is: a skin folder on a drive that comes back is worn again.
        qCDebug(lcSkins).noquote()
            << "SkinsList: the stored skin" << stored << "is gone; wearing the default face";
        m_current = kDefaultSkin;
    }
}

bool SkinsList::skinExists(const QString& value)
{
    if (value.isEmpty())
        return false;
    // A folder of that name is no skin document: only files count.
    if (isResourceValue(value))
        return QFileInfo(value.mid(3)).isFile();
    return QFileInfo(value).isFile();
}

QString SkinsList::urlOf(const QString& value)
{
    return isResourceValue(value) ? value : fileUrl(value);
}

QString SkinsList::currentSkinUrl() const
{
    return urlOf(m_current);
}

QString SkinsList::userFolder()
{
    return SetsGeneral::appPath() + QLatin1Char('/') + kUserFolderName;
}

QStringList SkinsList::userFolders()
{
    QStringList folders{SetsGeneral::userDataPath(kUserFolderName)};
    if (QDir::cleanPath(folders.first()) != QDir::cleanPath(userFolder()))
        folders << userFolder();
    return folders;
}

int SkinsList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

QVariant SkinsList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const SkinEntry& e = m_entries.at(index.row());
    switch (role) {
    case role_icon:
        return e.isBuiltIn ? QStringLiteral("qrc") + e.iconPath : fileUrl(e.iconPath);
    case role_name:
    case Qt::DisplayRole:
        return e.name;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> SkinsList::roleNames() const
{
    static const QHash<int, QByteArray> names{{role_icon, "role_icon"}, {role_name, "role_name"}};
    return names;
}

void SkinsList::appendFolder(QList<SkinEntry>& list, const QString& folder, bool builtIn)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QFileInfoList subs = dir.entryInfoList(
        QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& sub : subs) {
        const QString p = sub.absoluteFilePath();
        const QString main = p + QStringLiteral("/main.qml");
        if (!QFileInfo(main).isFile())
            continue;
        QString icon = p + QStringLiteral("/icon.jpg");
        if (!QFileInfo(icon).isFile()) {
            icon = p + QStringLiteral("/icon.png");
            if (!QFileInfo(icon).isFile())
                continue;
        }
        // A user's own copy of a skin hides the application folder's skin of that folder name.
        const bool shadowed = std::any_of(list.cbegin(), list.cend(), [&](const SkinEntry& e) {
            return !e.isBuiltIn && QFileInfo(e.mainPath).dir().dirName() == sub.fileName();
        });
        if (!builtIn && shadowed)
            continue;
        const QString name = sub.fileName().section(QLatin1Char('.'), 0, 0);
        if (name.isEmpty()) {
            qCDebug(lcSkins).noquote() << "SkinsList: skin folder" << p << "has no name; left out";
            continue;
        }
        SkinEntry e;
        e.iconPath = icon;
        e.mainPath = builtIn ? QStringLiteral("qrc") + main : main;
        e.name = name;
        e.isBuiltIn = builtIn;
        list.append(e);
    }
}

void SkinsList::loadSkins()
{
    QList<SkinEntry> fresh;
    SkinEntry def;
    def.iconPath = kDefaultIcon;
    def.mainPath = kDefaultSkin;
    def.name = QCoreApplication::translate("SkinsList", "Default");
    def.isBuiltIn = true;
    fresh.append(def);
    appendFolder(fresh, kBuiltInFolder, true);
    for (const QString& folder : userFolders())
        appendFolder(fresh, folder, false);

    // Rows that stay may hold other skins afterwards: a reset around the swap makes views read
    // every row again, and it is announced while the old rows are still in place.
    beginResetModel();
    m_entries.swap(fresh);
    endResetModel();
}

bool SkinsList::qmlSelectIndex(int index)
{
    if (index < 0 || index >= int(m_entries.size()))
        return false;
    setCurrentSkin(m_entries.at(index).mainPath);
    return true;
}

void SkinsList::setCurrentSkin(const QString& value)
{
    if (value == m_current)
        return;
    m_current = value;
    SetsManager::saveValueUser(kSettingKey, value);
    Q_EMIT currentSkinChanged(value);
}

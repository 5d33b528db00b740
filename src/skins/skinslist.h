// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogue of ball skins (the default face, the built-in skins, the user's skin folder)
// and the skin the ball wears, remembered across restarts in the setting "BallSkin".
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>

struct SkinEntry
{
    QString iconPath; // ":/..." for built-in skins, an absolute file path for user skins
    QString mainPath; // the value that becomes current when the row is chosen
    QString name;
    bool isBuiltIn = true;
};

class SkinsList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString currentSkinUrl READ currentSkinUrl NOTIFY currentSkinChanged)
public:
    // The numbers QML and the host know: the first user roles of the Qt that defined them,
    // kept as numbers (this Qt's UserRole lies elsewhere).
    enum Roles { role_icon = 33, role_name = 34 };

    static const QString kDefaultSkin;    // "qrc:/Ball/Skins/BallSkinDef.qml"
    static const QString kDefaultIcon;    // ":/Ball/Images/default_skin.png"
    static const QString kBuiltInFolder;  // ":/Ball/Skins/BallSkins"
    static const QString kUserFolderName; // "BallSkins", in the application folder
    static const QString kSettingKey;     // "BallSkin"

    explicit SkinsList(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The URL the ball's skin loader loads: resource URLs as they are, files as file URLs.
    QString currentSkinUrl() const;
    QString currentSkin() const { return m_current; }
    const QList<SkinEntry>& entries() const { return m_entries; }

    Q_INVOKABLE bool qmlSelectIndex(int index);
    // Rebuilds the list from the default face, the built-in folder and the user folder.
    void loadSkins();
    // Sets, stores and announces the current skin value when it differs.
    void setCurrentSkin(const QString& value);

    // True when value names an existing skin document (a resource or a file).
    static bool skinExists(const QString& value);
    // The URL form of a current skin value.
    static QString urlOf(const QString& value);
    static QString userFolder();
    // Where user skins are looked for: the user's own data folder first, then userFolder().
    static QStringList userFolders();

Q_SIGNALS:
    void currentSkinChanged(QString value);

private:
    static void appendFolder(QList<SkinEntry>& list, const QString& folder, bool builtIn);

    QString m_current;
    QList<SkinEntry> m_entries;
};

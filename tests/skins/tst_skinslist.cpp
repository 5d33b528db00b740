// SPDX-License-Identifier: GPL-3.0-or-later
// The skin catalogue over the real resources and real skin folders on disk.
#include "../lib/files.h"
#include "helper/setsgeneral.h"
#include "helper/setsmanager.h"
#include "skins/skinslist.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString kDef = QStringLiteral("qrc:/Ball/Skins/BallSkinDef.qml");
const QString kEgg = QStringLiteral("qrc:/Ball/Skins/BallSkins/egg/main.qml");
const QStringList kShipped{
    QStringLiteral("Default"),   QStringLiteral("Christmas"), QStringLiteral("egg"),
    QStringLiteral("Halloween"), QStringLiteral("Lighter"),   QStringLiteral("notebook"),
    QStringLiteral("shaver"),    QStringLiteral("tennis"),    QStringLiteral("tissue")};

// The settings store is shared by the whole process: go around it to set or clear a key.
void storeSetting(const QVariant& v)
{
    QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
    if (v.isValid())
        s.setValue(SkinsList::kSettingKey, v);
    else
        s.remove(SkinsList::kSettingKey);
    s.sync();
}

QVariant storedSetting()
{
    QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
    return s.value(SkinsList::kSettingKey);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QVERIFY2(vb::test::put(path, bytes), qPrintable(path));
}

QStringList names(const SkinsList& l)
{
    QStringList out;
    for (int i = 0; i < l.rowCount(); ++i)
        out << l.data(l.index(i), SkinsList::role_name).toString();
    return out;
}
} // namespace

class TestSkinsList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void firstStart();
    void storedValue_data();
    void storedValue();
    void shippedList();
    void userSkins();
    void userFolderBadInput();
    void oddFolderNames_data();
    void oddFolderNames();
    void usersOwnFolderFirst();
    void iconPreference();
    void sameNamesAsBuiltIn();
    void rebuildAnnouncesRows();
    void selectIndex_data();
    void selectIndex();
    void selectCurrentSavesNothing();
    void hostShipsAUserSkin();

private:
    std::unique_ptr<QTemporaryDir> m_app;
    QString userSkin(const QString& folder) const
    {
        return m_app->path() + QStringLiteral("/BallSkins/") + folder;
    }
    void makeSkin(const QString& folder, bool main = true,
                  const QString& icon = QStringLiteral("icon.png"))
    {
        if (main)
            writeFile(userSkin(folder) + QStringLiteral("/main.qml"), "import QtQuick\nItem {}\n");
        if (!icon.isEmpty())
            writeFile(userSkin(folder) + QLatin1Char('/') + icon, "not really a picture");
    }
};

void TestSkinsList::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(QFile::exists(QStringLiteral(":/Ball/Skins/BallSkinDef.qml")));
}

void TestSkinsList::init()
{
    m_app = std::make_unique<QTemporaryDir>();
    QVERIFY(m_app->isValid());
    SetsGeneral::setAppPathForTests(m_app->path());
    storeSetting(QVariant());
}

void TestSkinsList::cleanup()
{
    QDir(SetsGeneral::userDataPath(QString())).removeRecursively();
    SetsGeneral::setAppPathForTests(QString());
    storeSetting(QVariant());
}

void TestSkinsList::firstStart()
{
    SkinsList l;
    QAbstractItemModelTester tester(&l, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(l.currentSkinUrl(), kDef);
    QCOMPARE(l.rowCount(), 0); // filled only when the chooser asks
    QCOMPARE(l.roleNames().value(33), QByteArray("role_icon"));
    QCOMPARE(l.roleNames().value(34), QByteArray("role_name"));
    QVERIFY(!storedSetting().isValid()); // reading writes nothing
}

void TestSkinsList::storedValue_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("kept");
    QTest::newRow("built-in egg") << kEgg << true;
    QTest::newRow("scheme in capitals")
        << QStringLiteral("QRC:/Ball/Skins/BallSkins/tennis/main.qml") << true;
    QTest::newRow("default") << kDef << true;
    QTest::newRow("resource gone")
        << QStringLiteral("qrc:/Ball/Skins/BallSkins/Summer/main.qml") << false;
    QTest::newRow("resource folder") << QStringLiteral("qrc:/Ball/Skins/BallSkins/egg") << false;
    QTest::newRow("deleted user skin") << QStringLiteral("@APP@/BallSkins/Gone/main.qml") << false;
    QTest::newRow("user skin") << QStringLiteral("@APP@/BallSkins/Here/main.qml") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("garbage") << QStringLiteral("\x01\x02 not a path") << false;
}

void TestSkinsList::storedValue()
{
    QFETCH(QString, stored);
    QFETCH(bool, kept);
    makeSkin(QStringLiteral("Here"));
    stored.replace(QStringLiteral("@APP@"), m_app->path());
    storeSetting(stored);
    SkinsList l;
    QCOMPARE(l.currentSkin(), kept ? stored : kDef);
    if (kept && !stored.startsWith(QLatin1String("qrc"), Qt::CaseInsensitive))
        QCOMPARE(QUrl(l.currentSkinUrl()), QUrl::fromLocalFile(stored));
    else
        QCOMPARE(l.currentSkinUrl(), kept ? stored : kDef);
    // The fallback does not rewrite the stored choice.
    QCOMPARE(storedSetting().toString(), stored);
}

void TestSkinsList::shippedList()
{
    SkinsList l;
    QAbstractItemModelTester tester(&l, QAbstractItemModelTester::FailureReportingMode::QtTest);
    l.loadSkins();
    QCOMPARE(names(l), kShipped);
    QCOMPARE(l.data(l.index(0), SkinsList::role_icon).toString(),
             QStringLiteral("qrc:/Ball/Images/default_skin.png"));
    QCOMPARE(l.entries().at(0).mainPath, kDef);
    for (int i = 1; i < l.rowCount(); ++i) {
        const QString folder = QStringLiteral(":/Ball/Skins/BallSkins/") + kShipped.at(i);
        QCOMPARE(l.data(l.index(i), SkinsList::role_icon).toString(),
                 QStringLiteral("qrc") + folder + QStringLiteral("/icon.jpg"));
        QCOMPARE(l.entries().at(i).mainPath,
                 QStringLiteral("qrc") + folder + QStringLiteral("/main.qml"));
        QVERIFY(l.entries().at(i).isBuiltIn);
        // what the row offers can be worn and shown
        QVERIFY(SkinsList::skinExists(l.entries().at(i).mainPath));
        QVERIFY(!QImage(l.entries().at(i).iconPath).isNull());
    }
}

void TestSkinsList::userSkins()
{
    makeSkin(QStringLiteral("Night.Sky"));
    makeSkin(QStringLiteral("apple"));
    makeSkin(QStringLiteral("Banana"));
    SkinsList l;
    QAbstractItemModelTester tester(&l, QAbstractItemModelTester::FailureReportingMode::QtTest);
    l.loadSkins();
    QCOMPARE(names(l), (kShipped + QStringList{QStringLiteral("apple"), QStringLiteral("Banana"),
                                               QStringLiteral("Night")}));
    const int night = l.rowCount() - 1;
    const QString dir = QDir(userSkin(QStringLiteral("Night.Sky"))).absolutePath();
    QCOMPARE(QUrl(l.data(l.index(night), SkinsList::role_icon).toString()),
             QUrl::fromLocalFile(dir + QStringLiteral("/icon.png")));
    QVERIFY(!l.entries().at(night).isBuiltIn);

    QSignalSpy changed(&l, &SkinsList::currentSkinChanged);
    QVERIFY(l.qmlSelectIndex(night));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toString(), dir + QStringLiteral("/main.qml")); // the value
    QCOMPARE(QUrl(l.currentSkinUrl()), QUrl::fromLocalFile(dir + QStringLiteral("/main.qml")));
    QCOMPARE(QUrl(l.currentSkinUrl()).toLocalFile(), dir + QStringLiteral("/main.qml"));
    QCOMPARE(storedSetting().toString(), dir + QStringLiteral("/main.qml"));

    // The choice survives a restart.
    SkinsList again;
    QCOMPARE(again.currentSkin(), dir + QStringLiteral("/main.qml"));
}

// Installed, users keep their skins in their own data folder; a skin there hides the
// application folder's skin of the same folder name.
void TestSkinsList::oddFolderNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("hash") << QStringLiteral("a#b");
    QTest::newRow("question mark") << QStringLiteral("q?x=1");
    QTest::newRow("percent escape") << QStringLiteral("%41");
    QTest::newRow("space and ampersand") << QStringLiteral("my & skin");
}

void TestSkinsList::oddFolderNames()
{
    // The URLs the chooser and the ball load must name these very files, whatever the folder
    // name holds.
    QFETCH(QString, folder);
    makeSkin(folder);
    SkinsList l;
    l.loadSkins();
    const int row = int(names(l).indexOf(folder));
    QVERIFY2(row > 0, qPrintable(names(l).join(QLatin1Char(','))));
    const QUrl icon(l.data(l.index(row), SkinsList::role_icon).toString());
    QCOMPARE(icon.toLocalFile(), userSkin(folder) + QStringLiteral("/icon.png"));
    QVERIFY(l.qmlSelectIndex(row));
    QCOMPARE(QUrl(l.currentSkinUrl()).toLocalFile(),
             userSkin(folder) + QStringLiteral("/main.qml"));
}

void TestSkinsList::usersOwnFolderFirst()
{
    makeSkin(QStringLiteral("Night.Sky"));
    makeSkin(QStringLiteral("apple"));
    const QString own = SetsGeneral::userDataPath(QStringLiteral("BallSkins"));
    QVERIFY(!own.startsWith(m_app->path()));
    for (const QString& folder : {QStringLiteral("Night.Sky"), QStringLiteral("zebra")}) {
        writeFile(own + QLatin1Char('/') + folder + QStringLiteral("/main.qml"),
                  "import QtQuick\nItem {}\n");
        writeFile(own + QLatin1Char('/') + folder + QStringLiteral("/icon.png"), "x");
    }
    SkinsList l;
    l.loadSkins();
    QCOMPARE(names(l), (kShipped + QStringList{QStringLiteral("Night"), QStringLiteral("zebra"),
                                               QStringLiteral("apple")}));
    const int night = int(kShipped.size());
    QCOMPARE(l.entries().at(night).mainPath,
             QDir(own).absoluteFilePath(QStringLiteral("Night.Sky/main.qml")));
    QVERIFY(l.entries().last().mainPath.startsWith(QDir(m_app->path()).absolutePath()));
}

// Whatever lies in the user folder, the list stays sane and nothing crashes.
void TestSkinsList::userFolderBadInput()
{
    makeSkin(QStringLiteral("NoMain"), false);
    makeSkin(QStringLiteral("NoIcon"), true, QString());
    makeSkin(QStringLiteral("a.b.c.d"));
    makeSkin(QStringLiteral(".hidden"));
    makeSkin(QStringLiteral("...."));
    makeSkin(QStringLiteral("Schnée Größe.v2"));
    writeFile(userSkin(QStringLiteral("Empty/main.qml")), QByteArray());
    writeFile(userSkin(QStringLiteral("Empty/icon.jpg")), QByteArray());
    QDir().mkpath(userSkin(QStringLiteral("MainIsFolder/main.qml")));
    writeFile(userSkin(QStringLiteral("MainIsFolder/icon.png")), "x");
    QDir().mkpath(userSkin(QStringLiteral("IconIsFolder/icon.png")));
    writeFile(userSkin(QStringLiteral("IconIsFolder/main.qml")), "x");
    writeFile(m_app->path() + QStringLiteral("/BallSkins/stray.qml"), "garbage \xff\xfe");
    writeFile(m_app->path() + QStringLiteral("/BallSkins/main.qml"), "Item {}");
    writeFile(m_app->path() + QStringLiteral("/BallSkins/icon.png"), "x");
    QVERIFY(QFile::link(userSkin(QStringLiteral("a.b.c.d")), userSkin(QStringLiteral("Linked"))));

    SkinsList l;
    QAbstractItemModelTester tester(&l, QAbstractItemModelTester::FailureReportingMode::QtTest);
    l.loadSkins();
    QCOMPARE(names(l).mid(kShipped.size()),
             (QStringList{QStringLiteral("a"), QStringLiteral("Empty"),
                          QStringLiteral("Schnée Größe")}));
    QCOMPARE(l.currentSkinUrl(), kDef);
    // A listed skin whose document is empty can still be chosen; the ball copes with it.
    QVERIFY(l.qmlSelectIndex(kShipped.size() + 1));
    QVERIFY(l.currentSkin().endsWith(QLatin1String("/Empty/main.qml")));
}

void TestSkinsList::iconPreference()
{
    makeSkin(QStringLiteral("Both"), true, QStringLiteral("icon.png"));
    writeFile(userSkin(QStringLiteral("Both/icon.jpg")), "jpg");
    makeSkin(QStringLiteral("PngOnly"), true, QStringLiteral("icon.png"));
    makeSkin(QStringLiteral("OtherCase"), true, QStringLiteral("ICON.PNG"));
    SkinsList l;
    l.loadSkins();
    QCOMPARE(names(l).mid(kShipped.size()),
             (QStringList{QStringLiteral("Both"), QStringLiteral("PngOnly")}));
    QVERIFY(l.entries().at(kShipped.size()).iconPath.endsWith(QLatin1String("/Both/icon.jpg")));
    QVERIFY(
        l.entries().at(kShipped.size() + 1).iconPath.endsWith(QLatin1String("/PngOnly/icon.png")));
}

void TestSkinsList::sameNamesAsBuiltIn()
{
    makeSkin(QStringLiteral("Default"));
    makeSkin(QStringLiteral("egg"));
    SkinsList l;
    l.loadSkins();
    QCOMPARE(names(l), (kShipped + QStringList{QStringLiteral("Default"), QStringLiteral("egg")}));
    QVERIFY(l.entries().at(2).isBuiltIn);
    QVERIFY(!l.entries().last().isBuiltIn);
    QVERIFY(l.entries().last().mainPath != l.entries().at(2).mainPath);
}

void TestSkinsList::rebuildAnnouncesRows()
{
    SkinsList l;
    QAbstractItemModelTester tester(&l, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // What a view sees: the row count when the rebuild is announced and when it is over. The
    // announcement must come while the old rows are still there.
    QStringList log;
    connect(&l, &QAbstractItemModel::modelAboutToBeReset, this,
            [&log, &l] { log << QStringLiteral("about %1").arg(l.rowCount()); });
    connect(&l, &QAbstractItemModel::modelReset, this,
            [&log, &l] { log << QStringLiteral("reset %1").arg(l.rowCount()); });

    l.loadSkins();
    QCOMPARE(log, (QStringList{QStringLiteral("about 0"), QStringLiteral("reset 9")}));
    log.clear();
    makeSkin(QStringLiteral("One"));
    makeSkin(QStringLiteral("Two"));
    l.loadSkins();
    QCOMPARE(log, (QStringList{QStringLiteral("about 9"), QStringLiteral("reset 11")}));
    log.clear();
    QVERIFY(QDir(m_app->path() + QStringLiteral("/BallSkins")).removeRecursively());
    l.loadSkins();
    QCOMPARE(log, (QStringList{QStringLiteral("about 11"), QStringLiteral("reset 9")}));
    QCOMPARE(names(l), kShipped);
}

void TestSkinsList::selectIndex_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("value");
    QTest::newRow("egg") << 2 << true << kEgg;
    QTest::newRow("last built-in")
        << 8 << true << QStringLiteral("qrc:/Ball/Skins/BallSkins/tissue/main.qml");
    QTest::newRow("negative") << -1 << false << kDef;
    QTest::newRow("one past the end") << 9 << false << kDef;
    QTest::newRow("far out") << 1000 << false << kDef;
}

void TestSkinsList::selectIndex()
{
    QFETCH(int, row);
    QFETCH(bool, ok);
    QFETCH(QString, value);
    SkinsList l;
    l.loadSkins();
    QSignalSpy changed(&l, &SkinsList::currentSkinChanged);
    QCOMPARE(l.qmlSelectIndex(row), ok);
    QCOMPARE(changed.size(), ok ? 1 : 0);
    QCOMPARE(l.currentSkinUrl(), value);
    QCOMPARE(storedSetting(), ok ? QVariant(value) : QVariant());
}

void TestSkinsList::selectCurrentSavesNothing()
{
    storeSetting(kEgg);
    SkinsList l;
    l.loadSkins();
    // Something else lands in the store meanwhile; choosing the current row must not touch it.
    storeSetting(QStringLiteral("qrc:/Ball/Skins/BallSkins/tennis/main.qml"));
    QSignalSpy changed(&l, &SkinsList::currentSkinChanged);
    QVERIFY(l.qmlSelectIndex(2));
    QCOMPARE(changed.size(), 0);
    QCOMPARE(storedSetting().toString(),
             QStringLiteral("qrc:/Ball/Skins/BallSkins/tennis/main.qml"));
    QVERIFY(l.qmlSelectIndex(0));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(storedSetting().toString(), kDef);
}

// The demo host carries one user skin in its own folder, so the user path runs for real.
void TestSkinsList::hostShipsAUserSkin()
{
    SetsGeneral::setAppPathForTests(QStringLiteral(VB_BIN_DIR));
    SkinsList l;
    l.loadSkins();
    QCOMPARE(names(l), kShipped + QStringList{QStringLiteral("Night")});
    const SkinEntry& night = l.entries().last();
    QVERIFY(!night.isBuiltIn);
    QCOMPARE(night.mainPath, QStringLiteral(VB_BIN_DIR "/BallSkins/Night.Sky/main.qml"));
    QCOMPARE(QImage(night.iconPath).size(), QSize(153, 100));
}

QTEST_MAIN(TestSkinsList)
#include "tst_skinslist.moc"

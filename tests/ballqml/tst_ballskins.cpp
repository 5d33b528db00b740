// SPDX-License-Identifier: GPL-3.0-or-later
// The ball document in a real window: skins that cannot be worn, a double click's second
// press that moves, the language switch of the read-out, and the release note's timing.
#include "../lib/files.h"
#include "ballfakes.h"
#include "helper/hostenvironment.h"
#include "helper/setsgeneral.h"
#include "helper/setsmanager.h"

#include <QDir>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
const QString kDef = QStringLiteral("qrc:/Ball/Skins/BallSkinDef.qml");
const QString kEgg = QStringLiteral("qrc:/Ball/Skins/BallSkins/egg/main.qml");
const QString kChristmas = QStringLiteral("qrc:/Ball/Skins/BallSkins/Christmas/main.qml");

QQuickItem* findItem(QQuickItem* in, const QString& name)
{
    if (!in)
        return nullptr;
    if (in->objectName() == name)
        return in;
    const auto kids = in->childItems();
    for (QQuickItem* c : kids)
        if (QQuickItem* f = findItem(c, name))
            return f;
    return nullptr;
}

void sendMouse(QWindow* w, QEvent::Type type, QPointF pos, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
} // namespace

class TestBallSkins : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void unwearableSkin_data();
    void unwearableSkin();
    void userSkinWithBrokenPictureIsNotWorn();
    void secondPressOfDoubleClickDoesNotDrag();
    void readoutFollowsLanguage();
    void noteShowsAndCloses();
    void noteTakesNewTextWhileShown();

private:
    void loadBall();
    QQuickItem* skin() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SkinsList> m_skins;
    std::unique_ptr<FakeBall> m_ball;
    std::unique_ptr<FakeFlow> m_flow;
    std::unique_ptr<QQuickView> m_view;
};

void TestBallSkins::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestBallSkins::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
    s.remove(SkinsList::kSettingKey);
    s.sync();
    m_skins = std::make_unique<SkinsList>();
    m_ball = std::make_unique<FakeBall>(m_skins.get());
    m_flow = std::make_unique<FakeFlow>();
}

void TestBallSkins::cleanup()
{
    m_view.reset();
    m_ball.reset();
    m_skins.reset();
    HostEnvironment::instance().translator()->setLanguage(QString());
    SetsGeneral::setAppPathForTests(QString());
}

void TestBallSkins::loadBall()
{
    m_view = std::make_unique<QQuickView>();
    HostEnvironment::instance().attach(m_view->engine());
    QQmlContext* ctx = m_view->rootContext();
    ctx->setContextProperty(QStringLiteral("Bv"), m_ball.get());
    ctx->setContextProperty(QStringLiteral("EP"), m_ball.get());
    ctx->setContextProperty(QStringLiteral("FlowDataList"), m_flow.get());
    ctx->setContextProperty(QStringLiteral("SkinsList"), m_skins.get());
    m_view->setResizeMode(QQuickView::SizeViewToRootObject);
    m_view->setSource(QUrl(QStringLiteral("qrc:/Ball/Skins/BallView.qml")));
    QVERIFY2(m_view->status() == QQuickView::Ready,
             qPrintable(m_view->errors().value(0).toString()));
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QTRY_COMPARE(m_view->rootObject()->width(), 120.0);
}

QQuickItem* TestBallSkins::skin() const
{
    const auto kids = m_view->rootObject()->childItems();
    // BallView: the drag area first, the skin loader inside it.
    QQuickItem* drag = kids.value(0);
    QQuickItem* skinLoader = drag ? drag->childItems().value(0) : nullptr;
    return skinLoader ? skinLoader->property("item").value<QQuickItem*>() : nullptr;
}

void TestBallSkins::unwearableSkin_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("deleteIt");
    QTest::newRow("zero bytes") << QByteArray() << false;
    QTest::newRow("syntax error") << QByteArray("import QtQuick\nItem { width: \n") << false;
    QTest::newRow("unknown type") << QByteArray("import QtQuick\nNoSuchThing {}\n") << false;
    QTest::newRow("not visual") << QByteArray("import QtQuick\nQtObject {}\n") << false;
    static const char junk[] = "\x7f"
                               "ELF\x02\x01\x01\0\0\0\xff\xfe";
    QTest::newRow("binary junk") << QByteArray(junk, sizeof junk - 1) << false;
    QTest::newRow("removed after choosing") << QByteArray("import QtQuick\nItem {}\n") << true;
}

// A skin that cannot be loaded leaves the ball wearing the default face, says so in a debug
// line, and the next good skin is worn as usual.
void TestBallSkins::unwearableSkin()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, deleteIt);
    const QString main = m_dir->path() + QStringLiteral("/BallSkins/Broken/main.qml");
    QVERIFY(vb::test::put(main, document));
    loadBall();
    m_ball->wearSkin(kEgg);
    QTRY_COMPARE(m_view->rootObject()->height(), 115.0);
    if (deleteIt)
        QVERIFY(QFile::remove(main));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
                                         "BallView: the skin file://.*/Broken/main.qml "
                                         "cannot be loaded; wearing the default face")));
    m_ball->wearSkin(main);
    QTRY_COMPARE(m_view->rootObject()->height(), 48.0);
    QCOMPARE(m_view->rootObject()->width(), 120.0);
    QTRY_VERIFY(skin());
    QCOMPARE(findItem(skin(), QStringLiteral("ramText"))->property("text").toString(),
             QStringLiteral("RAM: 7%"));
    QVERIFY(findItem(skin(), QStringLiteral("boostButton"))); // it is the default face
    QCOMPARE(m_view->width(), 120);

    m_ball->wearSkin(kChristmas);
    QTRY_COMPARE(m_view->rootObject()->height(), 180.0);
    QCOMPARE(m_view->rootObject()->width(), 170.0);
}

// A user skin whose picture is garbage still works: the face has its size and its figures.
void TestBallSkins::userSkinWithBrokenPictureIsNotWorn()
{
    const QString dir = m_dir->path() + QStringLiteral("/BallSkins/Odd");
    QVERIFY(vb::test::put(dir + QStringLiteral("/bg.png"), "this is no picture"));
    QVERIFY(vb::test::put(
        dir + QStringLiteral("/main.qml"),
        "import QtQuick\nItem {\n Image { anchors.centerIn: parent; source: \"bg.png\" }\n"
        " Text { objectName: \"ramText\"; text: \"RAM: \" + FlowDataList.memoryUsage + \"%\" }\n"
        " Component.onCompleted: { ball_main.width = 90; ball_main.height = 70; "
        "EP.qmlWindowResize(90, 70) }\n}\n"));
    loadBall();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("bg.png")));
    m_ball->wearSkin(dir + QStringLiteral("/main.qml"));
    // Without its picture the skin is loose text that can hardly be grabbed: the default face.
    QTRY_COMPARE(m_view->rootObject()->width(), 120.0);
    QCOMPARE(m_ball->lastResize(), QStringLiteral("120x48"));
    QQuickItem* loader = m_view->rootObject()->childItems().value(0)->childItems().value(0);
    QCOMPARE(loader->property("source").toUrl(), QUrl(kDef));
}

// The rest of a double click's second press never drags the window.
void TestBallSkins::secondPressOfDoubleClickDoesNotDrag()
{
    loadBall();
    QWindow* w = m_view.get();
    const QPointF p(90, 24);
    sendMouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, p, Qt::NoButton);
    sendMouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonDblClick, p, Qt::LeftButton);
    for (int i = 1; i <= 5; ++i)
        sendMouse(w, QEvent::MouseMove, p + QPointF(4 * i, 2 * i), Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, p + QPointF(20, 10), Qt::NoButton);
    const QStringList calls = m_ball->calls();
    QVERIFY2(calls.contains(QStringLiteral("qmlReleaseMemory")), qPrintable(calls.join(u',')));
    QVERIFY2(!calls.contains(QStringLiteral("mousePressChanged 1")), qPrintable(calls.join(u',')));
    QVERIFY(!calls.contains(QStringLiteral("qmlRecordPos")));
    QCOMPARE(calls.count(QStringLiteral("qmlDelayShowPopup")), 1);
}

// The read-out's texts live in the ball's translation context and follow a language switch, on
// every face the library ships (they share one piece for it).
void TestBallSkins::readoutFollowsLanguage()
{
    QTemporaryDir app;
    QDir().mkpath(app.path() + QStringLiteral("/translations"));
    QVERIFY(QFile::copy(QStringLiteral(VB_QM_DIR "/verdantball_de.qm"),
                        app.path() + QStringLiteral("/translations/verdantball_de.qm")));
    SetsGeneral::setAppPathForTests(app.path());
    Translator* tr = HostEnvironment::instance().translator();
    tr->addCatalogue(QStringLiteral("verdantball"));
    loadBall();
    QStringList faces{kDef};
    const QString shipped = QStringLiteral(":/Ball/Skins/BallSkins");
    for (const QString& name : QDir(shipped).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        faces << QStringLiteral("qrc%1/%2/main.qml").arg(shipped, name);
    QVERIFY2(faces.size() > 2, qPrintable(faces.join(u',')));
    for (const QString& face : faces) {
        m_ball->wearSkin(face);
        QTRY_VERIFY2(skin() && findItem(skin(), QStringLiteral("cpuText")), qPrintable(face));
        // Worn itself, not replaced by the default face for a fault of its own.
        QQuickItem* loader = m_view->rootObject()->childItems().value(0)->childItems().value(0);
        QCOMPARE(loader->property("source").toUrl(), QUrl(face));
        QQuickItem* ram = findItem(skin(), QStringLiteral("ramText"));
        QQuickItem* cpu = findItem(skin(), QStringLiteral("cpuText"));
        QCOMPARE(ram->property("text").toString(), QStringLiteral("RAM: 7%"));
        QVERIFY(tr->setLanguage(QStringLiteral("de")));
        QCOMPARE(ram->property("text").toString(), QStringLiteral("RAM: 7 %"));
        QCOMPARE(cpu->property("text").toString(), QStringLiteral("CPU: 42 %"));
        tr->setLanguage(QString());
        QCOMPARE(ram->property("text").toString(), QStringLiteral("RAM: 7%"));
    }
    // The default face's name in the catalogue is translated in its own context.
    tr->setLanguage(QStringLiteral("de"));
    m_skins->loadSkins();
    QCOMPARE(m_skins->data(m_skins->index(0), SkinsList::role_name).toString(),
             QStringLiteral("Standard"));
}

// The release note's document in a view of its own, with tip as its "Bv".
static QQuickItem* loadNote(QQuickView& view, FakeTip& tip)
{
    HostEnvironment::instance().attach(view.engine());
    view.rootContext()->setContextProperty(QStringLiteral("Bv"), &tip);
    view.setSource(QUrl(QStringLiteral("qrc:/Ball/Skins/PopupReleaseMemoryNote.qml")));
    return view.rootObject();
}

void TestBallSkins::noteShowsAndCloses()
{
    FakeTip tip;
    tip.setText(QStringLiteral("Released 1.50 MB memory for computer."));
    QQuickView view;
    QQuickItem* note = loadNote(view, tip);
    QVERIFY(note);
    QCOMPARE(note->size(), QSizeF(160, 50));
    QCOMPARE(note->property("state").toString(), QString());
    QCOMPARE(note->opacity(), 1.0);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QStringList states;
    connect(note, &QQuickItem::stateChanged, this, [&states](const QString& s) { states << s; });
    double opacityWhenCleared = -1;
    QString stateWhenCleared;
    connect(&tip, &FakeTip::showFlagChanged, this, [&](bool on) {
        if (!on) {
            opacityWhenCleared = note->opacity();
            stateWhenCleared = note->property("state").toString();
        }
    });
    tip.setShowFlag(true);
    QCOMPARE(states, QStringList{QStringLiteral("working")});
    QTRY_COMPARE_WITH_TIMEOUT(tip.showFlag(), false, 10000);
    QCOMPARE(states, (QStringList{QStringLiteral("working"), QStringLiteral("closing")}));
    QCOMPARE(stateWhenCleared, QStringLiteral("closing"));
    QCOMPARE(opacityWhenCleared, 0.0);

    // Shown again: back to work, visible, and it closes again.
    tip.setShowFlag(true);
    QCOMPARE(note->property("state").toString(), QStringLiteral("working"));
    QTRY_COMPARE(note->opacity(), 1.0);
    QTRY_COMPARE_WITH_TIMEOUT(tip.showFlag(), false, 10000);
}

void TestBallSkins::noteTakesNewTextWhileShown()
{
    FakeTip tip;
    tip.setText(QStringLiteral("first"));
    QQuickView view;
    QQuickItem* note = loadNote(view, tip);
    QVERIFY(note);
    QQuickItem* text = nullptr;
    for (QQuickItem* c : note->childItems())
        if (c->property("wrapMode").isValid())
            text = c;
    QVERIFY(text);
    QCOMPARE(text->property("text").toString(), QStringLiteral("first"));
    QCOMPARE(text->width(), 154.0);
    QStringList states;
    connect(note, &QQuickItem::stateChanged, this, [&states](const QString& s) { states << s; });
    tip.setShowFlag(true);
    tip.setText(QStringLiteral("Boosted. Your PC performance is good."));
    QCOMPARE(text->property("text").toString(),
             QStringLiteral("Boosted. Your PC performance is good."));
    // No second show: the one timer runs on, and the note closes once.
    QTRY_COMPARE_WITH_TIMEOUT(tip.showFlag(), false, 10000);
    QCOMPARE(states, (QStringList{QStringLiteral("working"), QStringLiteral("closing")}));
}

QTEST_MAIN(TestBallSkins)
#include "tst_ballskins.moc"

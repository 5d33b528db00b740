// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's secondary windows on a real X server, driven by real pointer input (xdotool):
// the skin chooser reached from the context menu, the Boost Panel's opening, focus-loss hiding
// and pinning, and the menu items that must run after the menu's own click handling.
// Run by windows_e2e.sh once without and once with a window manager (VB_TEST_WM set).
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "ball/qmlapplicationviewer.h"
#include "helper/menuviewex.h"
#include "helper/setsgeneral.h"
#include "helper/setsmanager.h"
#include "platform/fake/fakememory.h"
#include "skins/skinslist.h"
#include "skins/skinviewer.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QScreen>
#include <QTemporaryDir>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

using namespace vb::platform;

namespace {
void xdo(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    QVERIFY2(p.waitForFinished(10000) && p.exitCode() == 0,
             qPrintable(args.join(QLatin1Char(' '))));
}

// Searches the visual tree: items a Repeater makes are not QObject children of the document.
QQuickItem* findItem(QQuickItem* root, const QString& name)
{
    if (!root || root->objectName() == name)
        return root;
    const QList<QQuickItem*> children = root->childItems();
    for (QQuickItem* child : children)
        if (QQuickItem* found = findItem(child, name))
            return found;
    return nullptr;
}

QPoint centreOf(const QQuickItem* item)
{
    return item->mapToGlobal(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

void moveTo(const QPoint& p)
{
    xdo({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
}

void clickAt(const QPoint& p, int button = 1)
{
    moveTo(p);
    xdo({QStringLiteral("click"), QString::number(button)});
}

// A screenshot of the whole display, kept for people to look at; taken after window has put
// its latest state on the screen.
void shot(const QString& name, QQuickWindow* window)
{
    QSignalSpy frame(window, &QQuickWindow::frameSwapped);
    window->update();
    QVERIFY(frame.wait());
    const QString dir =
        qEnvironmentVariable("VB_ARTEFACTS", QStringLiteral(VB_BIN_DIR "/../test-artefacts"));
    QDir().mkpath(dir);
    const QString wm =
        qEnvironmentVariableIsEmpty("VB_TEST_WM") ? QStringLiteral("nowm") : QStringLiteral("wm");
    QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(
        dir + QStringLiteral("/windows-%1-%2.png").arg(name, wm)));
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    return a;
}

// Closes a window the way the user's window manager does: with one running, it is asked to
// (_NET_CLOSE_WINDOW); without, the client gets the WM_DELETE_WINDOW message a manager sends.
void closeThroughWindowManager(QWindow* w)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    const xcb_window_t id = xcb_window_t(w->winId());
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    xcb_window_t target = id;
    uint32_t mask = XCB_EVENT_MASK_NO_EVENT;
    if (!qEnvironmentVariableIsEmpty("VB_TEST_WM")) {
        ev.window = id;
        ev.type = atom(c, "_NET_CLOSE_WINDOW");
        ev.data.data32[1] = 2; // from a pager or a user's action
        target = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    } else {
        ev.window = id;
        ev.type = atom(c, "WM_PROTOCOLS");
        ev.data.data32[0] = atom(c, "WM_DELETE_WINDOW");
        ev.data.data32[1] = XCB_CURRENT_TIME;
    }
    xcb_send_event(c, 0, target, mask, reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
}

// Right-clicks the ball, or, where a test asks for the menu right after another ball's menu,
// calls what the right click calls: two right clicks in a row would make a double click.
MenuViewEx* openMenu(BallViewer& b, bool byPointer = true)
{
    if (byPointer)
        clickAt(centreOf(b.rootObject()), 3);
    else
        b.qmlShowMenu();
    MenuViewEx* menu = nullptr;
    // Null when no menu came up; the caller's item lookup then fails the test.
    (void)QTest::qWaitFor([&] {
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (auto* m = qobject_cast<MenuViewEx*>(w); m && m->isExposed())
                menu = m;
        return menu != nullptr;
    });
    return menu;
}

QQuickItem* menuItem(MenuViewEx* menu, int index)
{
    if (!menu)
        qFatal("the context menu did not come up");
    QQuickItem* item = nullptr;
    const QString name = QStringLiteral("menuItem%1").arg(index);
    // The items appear once the menu's document has laid them out.
    if (!QTest::qWaitFor([&] {
            item = findItem(menu->rootObject(), name);
            return item && item->width() > 0;
        }))
        qFatal("the context menu has no item %d", index);
    return item;
}
} // namespace

class TestBallWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void skinChooser();
    void panelOpening();
    void laterMenuItems_data();
    void laterMenuItems();
    void captureKeepsPinnedPanel();

private:
    std::unique_ptr<BallViewer> makeBall();
    QQuickItem* tile(SkinViewer* chooser, int index);

    QTemporaryDir m_dir;
    Platform m_backends;
};

void TestBallWindows::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QFile panel(m_dir.filePath(QStringLiteral("panel.qml")));
    QVERIFY(panel.open(QIODevice::WriteOnly));
    panel.write("import QtQuick\nRectangle { width: 330; height: 480; color: \"#2a6f97\" }\n");
}

void TestBallWindows::init()
{
    vb::test::BallFakes fakes;
    Platform p = fakes.platform();
    p.screens = nullptr; // this display's own screens
    // A double click releases memory: only make-believe here.
    p.workingSets = std::make_shared<vb::platform::fake::FakeWorkingSets>();
    m_backends = vb::test::nativeExcept(p);
    SetsGeneral::setAppPathForTests(m_dir.path());
    for (const char* k : {"BallViewerX", "BallViewerY", "BallViewerHide", "BallSkin"})
        SetsManager::removeValueUser(QLatin1String(k));
}

void TestBallWindows::cleanup()
{
    QDir(m_dir.filePath(SkinsList::kUserFolderName)).removeRecursively();
    SetsGeneral::setAppPathForTests(QString());
}

std::unique_ptr<BallViewer> TestBallWindows::makeBall()
{
    auto b = std::make_unique<BallViewer>(nullptr, m_backends);
    b->setPopupDocument(m_dir.filePath(QStringLiteral("panel.qml")));
    b->setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    b->showAtPos();
    if (!QTest::qWaitForWindowExposed(b.get()))
        return nullptr;
    return b;
}

QQuickItem* TestBallWindows::tile(SkinViewer* chooser, int index)
{
    auto* grid = chooser->rootObject()->findChild<QQuickItem*>(QStringLiteral("skins_view"));
    QQuickItem* item = nullptr;
    QMetaObject::invokeMethod(grid, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, item),
                              Q_ARG(int, index));
    return item;
}

void TestBallWindows::skinChooser()
{
    auto b = makeBall();
    QVERIFY(b);
    SkinsList* skins = b->skinCatalogue().get();
    QSignalSpy rescans(skins, &QAbstractItemModel::modelReset);

    // "Change Skin" twice: one chooser, one reading of the skin folders.
    QVERIFY(!b->skinChooserWindow());
    clickAt(centreOf(menuItem(openMenu(*b), 2)));
    QTRY_VERIFY(b->skinChooserWindow() && b->skinChooserWindow()->isExposed());
    QPointer<SkinViewer> chooser = b->skinChooserWindow();
    QCOMPARE(chooser->size(), QSize(484, 324));
    clickAt(centreOf(menuItem(openMenu(*b), 2)));
    QTRY_VERIFY(chooser->isActive());
    QCOMPARE(b->skinChooserWindow(), chooser.data());
    QCOMPARE(rescans.size(), 1);
    QTRY_VERIFY(tile(chooser, 2));
    shot(QStringLiteral("chooser"), chooser);

    // Hovering a tile lays the veil with the skin's name over it; leaving takes it away.
    QQuickItem* egg = tile(chooser, 2);
    QCOMPARE(skins->data(skins->index(2), SkinsList::role_name).toString(), QStringLiteral("egg"));
    auto* veil = egg->findChild<QQuickItem*>(QStringLiteral("veil"));
    QVERIFY(veil);
    QCOMPARE(veil->opacity(), 0.0);
    moveTo(centreOf(egg));
    QTRY_COMPARE(veil->opacity(), 1.0);
    shot(QStringLiteral("chooser-hover"), chooser);
    moveTo(chooser->mapToGlobal(QPoint(200, 14))); // the title
    QTRY_COMPARE(veil->opacity(), 0.0);

    // A click dresses the ball at once and remembers the choice; the chooser stays.
    const QString eggSkin = QStringLiteral("qrc:/Ball/Skins/BallSkins/egg/main.qml");
    QSignalSpy changed(skins, &SkinsList::currentSkinChanged);
    clickAt(centreOf(egg));
    QTRY_COMPARE(b->size(), QSize(120, 115));
    QCOMPARE(SetsManager::readValueUser(SkinsList::kSettingKey).toString(), eggSkin);
    QVERIFY(chooser->isVisible());
    shot(QStringLiteral("chooser-egg"), b.get());
    // The skin already worn: nothing changes, nothing is stored.
    SetsManager::removeValueUser(SkinsList::kSettingKey);
    clickAt(centreOf(egg));
    QVERIFY(!changed.wait(300));
    QCOMPARE(changed.size(), 1);
    QVERIFY(!SetsManager::readValueUser(SkinsList::kSettingKey).isValid());

    // The close button only hides: the next request shows the same window, no rescan.
    auto* closeButton = chooser->rootObject()->findChild<QQuickItem*>(QStringLiteral("closebtn"));
    clickAt(centreOf(closeButton));
    QTRY_VERIFY(!chooser->isVisible());
    clickAt(centreOf(menuItem(openMenu(*b), 2)));
    QTRY_VERIFY(chooser->isVisible());
    QCOMPARE(rescans.size(), 1);

    // Closed through the window manager, it is forgotten; a skin added meanwhile is listed by
    // the next chooser.
    closeThroughWindowManager(chooser);
    QTRY_VERIFY(!chooser);
    QVERIFY(!b->skinChooserWindow());
    const QString mine = m_dir.filePath(QStringLiteral("BallSkins/Mine"));
    QVERIFY(QDir().mkpath(mine));
    QVERIFY(QFile::copy(QStringLiteral(":/Ball/Skins/BallSkins/egg/main.qml"),
                        mine + QStringLiteral("/main.qml")));
    QVERIFY(QFile::copy(SkinsList::kDefaultIcon, mine + QStringLiteral("/icon.png")));
    clickAt(centreOf(menuItem(openMenu(*b), 2)));
    QTRY_VERIFY(b->skinChooserWindow() && b->skinChooserWindow()->isExposed());
    QCOMPARE(rescans.size(), 2);
    QCOMPARE(skins->data(skins->index(skins->rowCount() - 1), SkinsList::role_name).toString(),
             QStringLiteral("Mine"));
}

void TestBallWindows::panelOpening()
{
    auto b = makeBall();
    QVERIFY(b);
    QmlApplicationViewer* panel = b->popupWindow();
    QVERIFY(panel && !panel->isVisible());
    QWindow other;
    other.setGeometry(20, 20, 200, 120);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    // A click opens the panel after the delay, beside the ball and active from the first time.
    clickAt(centreOf(b->rootObject()));
    QTRY_VERIFY(panel->isExposed());
    QTRY_VERIFY(panel->isActive());
    QCOMPARE(panel->position(),
             QPoint(b->x() - panel->width(),
                    std::min(b->y(),
                             panel->screen()->availableGeometry().bottom() + 1 - panel->height())));
    shot(QStringLiteral("panel"), panel);

    // The focus goes elsewhere: the panel goes, unless pinned on the Network page.
    const struct
    {
        BallViewer::ModulePages page;
        bool pinned;
        bool stays;
    } rows[] = {{BallViewer::MP_Procgram, true, false},
                {BallViewer::MP_Network, false, false},
                {BallViewer::MP_Network, true, true}};
    for (const auto& row : rows) {
        b->setCurrentPage(row.page);
        b->setIsPopupPined(row.pinned);
        b->showPopup(false);
        QTRY_VERIFY(panel->isActive());
        other.requestActivate();
        QTRY_VERIFY(other.isActive());
        if (row.stays)
            QVERIFY(!QTest::qWaitFor([&] { return !panel->isVisible(); }, 300));
        else
            QTRY_VERIFY(!panel->isVisible());
        QCOMPARE(panel->isVisible(), row.stays);
    }

    // A double click withdraws the opening its first click asked for, and releases memory.
    b->qmlHidePopup();
    QSignalSpy releasing(b.get(), &BallViewer::isEmptingMemorySetChanged);
    moveTo(centreOf(b->rootObject()));
    xdo({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
         QStringLiteral("--delay"), QStringLiteral("60"), QStringLiteral("1")});
    QTRY_VERIFY(!releasing.isEmpty());
    QVERIFY(!QTest::qWaitFor([&] { return panel->isVisible(); }, 3 * BallViewer::kPopupDelayMs));
}

void TestBallWindows::laterMenuItems_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("Hide") << 3 << QByteArray(SIGNAL(hided()));
    QTest::newRow("Open Verdant Suite") << 4 << QByteArray(SIGNAL(tryOpenVDS()));
}

void TestBallWindows::laterMenuItems()
{
    QFETCH(int, item);
    QFETCH(QByteArray, signal);
    auto b = makeBall();
    QVERIFY(b);
    MenuViewEx* menu = openMenu(*b, false);
    QVERIFY(menu);
    QSignalSpy ran(b.get(), signal.constData());
    menu->pick(item);
    QCOMPARE(ran.size(), 0); // not from inside the menu's handling
    QVERIFY(ran.wait());
}

void TestBallWindows::captureKeepsPinnedPanel()
{
    auto b = makeBall();
    QVERIFY(b);
    QmlApplicationViewer* panel = b->popupWindow();
    b->setCurrentPage(BallViewer::MP_Network);
    b->setIsPopupPined(true);
    b->showPopup(false);
    QTRY_VERIFY(panel->isExposed());
    clickAt(centreOf(menuItem(openMenu(*b, false), 1)));
    QTRY_COMPARE(b->findChildren<QProcess*>().size(), 1);
    QVERIFY(panel->isVisible());
    QProcess* capture = b->findChildren<QProcess*>().first();
    QCOMPARE(capture->arguments(), QStringList{QStringLiteral("-ScreenCapture")});
    capture->waitForFinished(20000);
}

QTEST_MAIN(TestBallWindows)
#include "tst_ballwindows.moc"

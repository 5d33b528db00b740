// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's own rules: the meta-object tables of its windows, what it publishes before a
// document exists, placement from the saved position, the hot key, hiding, its property
// setters and the requests the Boost Panel sends it.
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "ball/qmlapplicationviewer.h"
#include "flow/flowdatalist.h"
#include "helper/setsmanager.h"
#include "platform/fake/fakeplatform.h"
#include "skins/skinviewer.h"

#include <QDesktopServices>
#include <QProcess>
#include <QQmlContext>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QtTest>

using namespace vb::platform;

class TestBallViewer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void memberTable_data();
    void memberTable();
    void pageEnums();
    void panelWithoutPublisher();
    void publishesBeforeTheDocument();
    void placement_data();
    void placement();
    void hotKeyRetriedUntilRegistered();
    void hotKeyStartsOneCaptureAtATime();
    void hideTwice();
    void procPageSetter();
    void pinSwitch();
    void fixSettersEmitNothing();
    void recordPosition();
    void panelRequests();

private:
    void loadBall(BallViewer& b);
    vb::test::BallFakes m_fakes;
    Platform m_backends;
    QTemporaryDir m_dir;
};

void TestBallViewer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QFile f(m_dir.filePath(QStringLiteral("ball.qml")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("import QtQuick\n"
            "Item { width: 120; height: 48\n"
            "  property var ep: EP\n  property var bv: Bv\n"
            "  property bool sawBoth: false\n"
            "  Component.onCompleted: { sawBoth = (EP === Bv); EP.qmlWindowResize(120, 48) } }\n");
    f.close();
    // A stand-in Boost Panel that shows what the ball publishes to it.
    QFile panel(m_dir.filePath(QStringLiteral("panel.qml")));
    QVERIFY(panel.open(QIODevice::WriteOnly));
    panel.write("import QtQuick\nItem { width: 330; height: 480; property var mainView: MainView\n"
                "  property var ep: EP; property var flow: FlowDataList }\n");
}

void TestBallViewer::init()
{
    m_fakes = vb::test::BallFakes();
    m_backends = vb::test::nativeExcept(m_fakes.platform());
    for (const char* k : {"BallViewerX", "BallViewerY", "BallViewerHide"})
        SetsManager::removeValueUser(QLatin1String(k));
}

void TestBallViewer::loadBall(BallViewer& b)
{
    b.setMainQmlFile(m_dir.filePath(QStringLiteral("ball.qml")));
    QVERIFY(b.rootObject());
}

void TestBallViewer::memberTable_data()
{
    // Hosts and documents reach these members by index and name; their order is the interface.
    QTest::addColumn<const QMetaObject*>("mo");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("BallViewer") << &BallViewer::staticMetaObject
                                << QStringList{
                                       QStringLiteral("toCleanPage()"),
                                       QStringLiteral("isEmptingMemorySetChanged(bool)"),
                                       QStringLiteral("isPopupPinedChanged(bool)"),
                                       QStringLiteral("hided()"),
                                       QStringLiteral("currentPageChanged(ModulePages)"),
                                       QStringLiteral("currentProcPageChanged(ProcsPages)"),
                                       QStringLiteral("lastFixInfoChanged(uint,qulonglong)"),
                                       QStringLiteral("tryOpenVDS()"),
                                       QStringLiteral("tryDelayShowPopup()"),
                                       QStringLiteral("onEmptingMemorySetFinished(qulonglong)"),
                                       QStringLiteral("onPopupFocusOut()"),
                                       QStringLiteral("onShowSkinsViewer()"),
                                       QStringLiteral("onPopupClosed()"),
                                       QStringLiteral("onTipClosed()"),
                                       QStringLiteral("onSkinViewerClosed()"),
                                       QStringLiteral("onOpenPanel()"),
                                       QStringLiteral("onHideBall()"),
                                       QStringLiteral("onOpenVDS()"),
                                       QStringLiteral("onScreenCaptureProcessClosed(int)"),
                                       QStringLiteral("onShowScreenCapture()"),
                                       QStringLiteral("onOfficeIsFixingChanged(bool)"),
                                       QStringLiteral("onGameIsFixingChanged(bool)"),
                                       QStringLiteral("onFixResultChanged(uint,qulonglong)"),
                                       QStringLiteral("fixCurrent(bool)"),
                                       QStringLiteral("fixCurrent()"),
                                       QStringLiteral("qmlDelayShowPopup()"),
                                       QStringLiteral("qmlCancelDelayShowPopup()"),
                                       QStringLiteral("qmlReleaseMemory()"),
                                       QStringLiteral("qmlShowMenu()"),
                                       QStringLiteral("qmlShowPopup()"),
                                       QStringLiteral("qmlRecordPos()"),
                                       QStringLiteral("qmlHidePopup()"),
                                       QStringLiteral("qmlToCleanPage()")};
    QTest::newRow("QmlApplicationViewer") << &QmlApplicationViewer::staticMetaObject
                                          << QStringList{QStringLiteral("focusOut()"),
                                                         QStringLiteral("showSkinsView()"),
                                                         QStringLiteral("showScreenCapture()"),
                                                         QStringLiteral("onDelayHide()"),
                                                         QStringLiteral("qmlHide()"),
                                                         QStringLiteral("qmlShowSkinsView()"),
                                                         QStringLiteral("qmlShowScreenCapture()"),
                                                         QStringLiteral("qmlFacebook()")};
    QTest::newRow("SkinViewer") << &SkinViewer::staticMetaObject
                                << QStringList{QStringLiteral("qmlHide()")};
}

void TestBallViewer::memberTable()
{
    QFETCH(const QMetaObject*, mo);
    QFETCH(QStringList, expected);
    QStringList actual;
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
        actual << QString::fromLatin1(mo->method(i).methodSignature());
    QCOMPARE(actual, expected);
    QCOMPARE(QString::fromLatin1(mo->className()), QString::fromLatin1(QTest::currentDataTag()));
}

void TestBallViewer::pageEnums()
{
    const QMetaObject& mo = BallViewer::staticMetaObject;
    const QMetaEnum pages = mo.enumerator(mo.indexOfEnumerator("ModulePages"));
    QCOMPARE(pages.keyToValue("MP_NONE"), -1);
    QCOMPARE(pages.keyToValue("MP_Network"), 1);
    const QMetaEnum procPages = mo.enumerator(mo.indexOfEnumerator("ProcsPages"));
    QCOMPARE(procPages.keyToValue("PP_Game"), 1);
}

void TestBallViewer::panelWithoutPublisher()
{
    // A panel made without its publishing function is a programming error, not a silent panel
    // whose document finds none of the ball's objects.
    QmlApplicationViewer panel(nullptr, {});
    QVERIFY_THROWS_EXCEPTION(std::bad_function_call,
                             panel.setMainQmlFile(m_dir.filePath(QStringLiteral("panel.qml"))));
}

void TestBallViewer::publishesBeforeTheDocument()
{
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    QObject* root = b.rootObject();
    QCOMPARE(root->property("ep").value<QObject*>(), &b);
    QVERIFY(root->property("sawBoth").toBool());
    QCOMPARE(b.size(), QSize(120, 48));
    const Qt::WindowFlags f = b.flags();
    QVERIFY(f.testFlag(Qt::FramelessWindowHint));
    QVERIFY(f.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(f.testFlag(Qt::WindowCloseButtonHint));
    // The constructor creates no window; nothing is shown before showAtPos.
    QVERIFY(!b.isVisible());
}

void TestBallViewer::placement_data()
{
    QTest::addColumn<QVariant>("x");
    QTest::addColumn<QVariant>("y");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("nothing saved") << QVariant() << QVariant() << QPoint(1790, 962);
    QTest::newRow("saved") << QVariant(100) << QVariant(200) << QPoint(100, 200);
    QTest::newRow("negative") << QVariant(-50) << QVariant(-1) << QPoint(0, 0);
    QTest::newRow("wrong type for x")
        << QVariant(QStringLiteral("abc")) << QVariant(300) << QPoint(1790, 300);
    QTest::newRow("boolean y") << QVariant(17) << QVariant(QStringLiteral("true"))
                               << QPoint(17, 962);
}

void TestBallViewer::placement()
{
    QFETCH(QVariant, x);
    QFETCH(QVariant, y);
    QFETCH(QPoint, expected);
    if (x.isValid())
        SetsManager::saveValueUser(QStringLiteral("BallViewerX"), x);
    if (y.isValid())
        SetsManager::saveValueUser(QStringLiteral("BallViewerY"), y);
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    b.showAtPos();
    QCOMPARE(b.position(), expected);
    QVERIFY(b.isVisible());
}

void TestBallViewer::hotKeyRetriedUntilRegistered()
{
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    m_fakes.hotKeys->nextResult = HotKeyResult::Conflict;
    b.showAtPos();
    QVERIFY(!b.hotKeyIsRegistered());
    QCOMPARE(m_fakes.hotKeys->attempts, 1);
    m_fakes.hotKeys->nextResult = HotKeyResult::Registered;
    b.showAtPos();
    QVERIFY(b.hotKeyIsRegistered());
    QCOMPARE(m_fakes.hotKeys->attempts, 2);
    QCOMPARE(m_fakes.hotKeys->registered.count(1), size_t(1));
    QCOMPARE(m_fakes.hotKeys->registered[1].modifiers, 3u);
    QCOMPARE(m_fakes.hotKeys->registered[1].virtualKey, 0x43u);
    b.showAtPos();
    QCOMPARE(m_fakes.hotKeys->attempts, 2); // never registered twice
}

void TestBallViewer::hotKeyStartsOneCaptureAtATime()
{
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    b.showAtPos();
    QVERIFY(b.findChildren<QProcess*>().isEmpty());
    QVERIFY(m_fakes.hotKeys->press(1));
    QList<QProcess*> procs = b.findChildren<QProcess*>();
    QCOMPARE(procs.size(), 1);
    QCOMPARE(procs[0]->arguments(), QStringList{QStringLiteral("-ScreenCapture")});
    QCOMPARE(procs[0]->program(), QCoreApplication::applicationFilePath());
    m_fakes.hotKeys->press(1);
    QCOMPARE(b.findChildren<QProcess*>().size(), 1);
    QCOMPARE(b.findChildren<QProcess*>()[0], procs[0]);
    // When the capture ends the next request starts a new one.
    QVERIFY(procs[0]->waitForFinished(20000));
    QTRY_COMPARE(b.findChildren<QProcess*>().size(), 0);
    m_fakes.hotKeys->press(1);
    QCOMPARE(b.findChildren<QProcess*>().size(), 1);
    b.findChildren<QProcess*>()[0]->waitForFinished(20000);
}

void TestBallViewer::hideTwice()
{
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    b.showAtPos();
    QSignalSpy hided(&b, &BallViewer::hided);
    b.HideBallView();
    QVERIFY(!b.isVisible());
    QCOMPARE(SetsManager::readValueUser(QStringLiteral("BallViewerHide")).toBool(), true);
    SetsManager::saveValueUser(QStringLiteral("BallViewerHide"), false);
    b.HideBallView();
    QCOMPARE(hided.count(), 2);
    QCOMPARE(SetsManager::readValueUser(QStringLiteral("BallViewerHide")).toBool(), true);
}

void TestBallViewer::procPageSetter()
{
    BallViewer b(nullptr, m_backends);
    QSignalSpy spy(&b, &BallViewer::currentProcPageChanged);
    b.setCurrentProcPage(BallViewer::PP_Office);
    QCOMPARE(spy.count(), 0);
    b.setCurrentProcPage(BallViewer::PP_NONE);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy[0][0].value<BallViewer::ProcsPages>(), BallViewer::PP_NONE);
    QSignalSpy pageSpy(&b, &BallViewer::currentPageChanged);
    b.setCurrentPage(BallViewer::MP_Procgram);
    QCOMPARE(pageSpy.count(), 0);
    b.setCurrentPage(BallViewer::MP_Network);
    QCOMPARE(pageSpy.count(), 1);
}

void TestBallViewer::pinSwitch()
{
    BallViewer b(nullptr, m_backends);
    QSignalSpy spy(&b, &BallViewer::isPopupPinedChanged);
    b.setIsPopupPined(true);
    b.setIsPopupPined(true);
    QCOMPARE(spy.count(), 1);
    QVERIFY(b.isPopupPinedValue());
    b.setCurrentPage(BallViewer::MP_Network);
    QVERIFY(!b.isPopupPined()); // no panel exists
    QCOMPARE(b.property("isPopupPined").toBool(), true);

    // With a panel the pin holds on the Network page only.
    b.setPopupDocument(m_dir.filePath(QStringLiteral("panel.qml")));
    loadBall(b);
    QVERIFY(b.popupWindow());
    QCOMPARE(b.popupWindow()->rootObject()->property("mainView").value<QObject*>(), &b);
    QVERIFY(b.isPopupPined());
    for (const auto page : {BallViewer::MP_Procgram, BallViewer::MP_NONE}) {
        b.setCurrentPage(page);
        QVERIFY(!b.isPopupPined());
    }
    b.setCurrentPage(BallViewer::MP_Network);
    QVERIFY(b.isPopupPined());
    b.setIsPopupPined(false);
    QVERIFY(!b.isPopupPined());
    QCOMPARE(spy.count(), 2);
}

void TestBallViewer::fixSettersEmitNothing()
{
    BallViewer b(nullptr, m_backends);
    QSignalSpy spy(&b, &BallViewer::lastFixInfoChanged);
    b.setLastFixCount(4);
    b.setLastFixMemory(3 * 1024 * 1024 / 2);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(b.lastFixCount(), 4u);
    QCOMPARE(b.lastFixMemoryStr(), QStringLiteral("1.50 MB"));
}

void TestBallViewer::recordPosition()
{
    BallViewer b(nullptr, m_backends);
    loadBall(b);
    b.showAtPos();
    b.setPosition(333, 444);
    b.qmlRecordPos();
    QCOMPARE(SetsManager::readValueUser(QStringLiteral("BallViewerX")).toInt(), 333);
    QCOMPARE(SetsManager::readValueUser(QStringLiteral("BallViewerY")).toInt(), 444);
    BallViewer again(nullptr, m_backends);
    loadBall(again);
    again.showAtPos();
    QCOMPARE(again.position(), QPoint(333, 444));
}

// Receives what the panel's share button opens instead of a browser.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened << url; }
};

void TestBallViewer::panelRequests()
{
    BallViewer b(nullptr, m_backends);
    b.setPopupDocument(m_dir.filePath(QStringLiteral("panel.qml")));
    loadBall(b);
    // The ball's start does not make the panel; its first use does.
    const auto panels = [] {
        int n = 0;
        for (QWindow* w : QGuiApplication::allWindows())
            n += qobject_cast<QmlApplicationViewer*>(w) != nullptr;
        return n;
    };
    QCOMPARE(panels(), 0);
    QmlApplicationViewer* panel = b.popupWindow();
    QVERIFY(panel);
    QCOMPARE(panels(), 1);
    QObject* root = panel->rootObject();
    QCOMPARE(root->property("ep").value<QObject*>(), panel);
    QCOMPARE(root->property("flow").value<QObject*>(), b.flowDataList().get());
    QCOMPARE(root->property("mainView").value<QObject*>(), &b);

    UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    QMetaObject::invokeMethod(panel, "qmlFacebook");
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(sink.opened.size(), 1);
    const QUrl share = sink.opened.first();
    QCOMPARE(share.path(), QStringLiteral("/api/vdsshare.php"));
    QCOMPARE(share.query(QUrl::FullyEncoded), QStringLiteral("act=facebook&&from=pulsar"));
    QCOMPARE(share.toString(QUrl::RemovePath | QUrl::RemoveQuery),
             QmlApplicationViewer::kShareServer);

    // The panel's skin button reaches the ball's chooser; a second request reuses it.
    QVERIFY(!b.skinChooserWindow());
    QMetaObject::invokeMethod(panel, "qmlShowSkinsView");
    QPointer<SkinViewer> chooser = b.skinChooserWindow();
    QVERIFY(chooser);
    QVERIFY(chooser->isVisible());
    QVERIFY(!chooser->isTopMost());
    QMetaObject::invokeMethod(panel, "qmlShowSkinsView");
    QCOMPARE(b.skinChooserWindow(), chooser.data());

    // The panel's hide button hides; it does not close.
    b.showPopup(false);
    QVERIFY(panel->isVisible());
    QMetaObject::invokeMethod(panel, "qmlHide");
    QVERIFY(!panel->isVisible());
    QCOMPARE(b.popupWindow(), panel);
}

QTEST_MAIN(TestBallViewer)
#include "tst_ballviewer.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The host side: the library's resources come and go with it, the language switch, the menu
// window, the size text and the digit strip.
#include "core/sizetext.h"
#include "helper/hostenvironment.h"
#include "helper/kestui.h"
#include "helper/menuviewex.h"
#include "lib/verdantball.h"
#include "procs/procdatalist.h"

#include <QLibrary>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

class TestHostEnv : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void resourcesFollowTheLibrary();
    void languageSwitch();
    void entryTableReachesTheBall();
    void sizeText_data();
    void sizeText();
    void menuKeyboard();
    void menuClosesOnOutsideClick();
    void menuDisabledItemIsSkipped();
    void digitCells_data();
    void digitCells();
    void captureKeepsExactlyTheSelection_data();
    void captureKeepsExactlyTheSelection();
};

void TestHostEnv::resourcesFollowTheLibrary()
{
    const QString doc = QStringLiteral(":/Ball/Skins/BallView.qml");
    QVERIFY(!QFile::exists(doc));
    QLibrary lib(QStringLiteral(VB_BALL_LIBRARY));
    QVERIFY2(lib.load(), qPrintable(lib.errorString()));
    QVERIFY(QFile::exists(doc));
    auto entry = reinterpret_cast<VerdantBallEntry>(lib.resolve(kVerdantBallEntry));
    QVERIFY(entry);
    QCOMPARE(entry()->abiVersion, kVerdantBallAbi);
    QVERIFY(lib.unload());
    QVERIFY(!QFile::exists(doc));
}

void TestHostEnv::entryTableReachesTheBall()
{
    QLibrary lib(QStringLiteral(VB_BALL_LIBRARY));
    QVERIFY(lib.load());
    const VerdantBallApi* api =
        reinterpret_cast<VerdantBallEntry>(lib.resolve(kVerdantBallEntry))();
    BaseView host;
    BaseView* ball = api->createBall(&host);
    QVERIFY(ball);
    const auto office = api->procDataList(ball, 0);
    const auto game = api->procDataList(ball, 1);
    QVERIFY(office && game && office != game);
    QVERIFY(!api->procDataList(ball, -1));
    QVERIFY(!api->procDataList(nullptr, 0));
    QVERIFY(api->flowDataList(ball));
    api->setLastFixCount(ball, 7);
    api->setLastFixMemory(ball, 1572864);
    QCOMPARE(ball->property("lastFixCount").toUInt(), 7u);
    QCOMPARE(ball->property("lastFixMemoryStr").toString(), QStringLiteral("1.50 MB"));
    // No page shown: neither list is touched (nothing on this machine is closed here).
    QVERIFY(ball->setProperty("currentProcPage", -1));
    QSignalSpy fixing(office.get(), SIGNAL(isFixingChanged(bool)));
    api->fixCurrent(ball, true);
    api->needEnumCurrent(ball);
    QCOMPARE(fixing.size(), 0);
    QCOMPARE(office->rowCount(), 0);
    api->destroyBall(ball);
    // The host's share keeps the list alive past the ball.
    QCOMPARE(office->rowCount(), 0);
}

void TestHostEnv::languageSwitch()
{
    QLibrary lib(QStringLiteral(VB_BALL_LIBRARY)); // the catalogues live in its resources
    QVERIFY(lib.load());
    Translator* tr = HostEnvironment::instance().translator();
    tr->addCatalogue(QStringLiteral("verdantball"));
    QSignalSpy spy(tr, &Translator::nulstrChanged);
    QVERIFY(tr->setLanguage(QStringLiteral("de")));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(QCoreApplication::translate("QObject", "Hide"), QStringLiteral("Ausblenden"));
    QCOMPARE(QCoreApplication::translate("BallViewer", "Boosted. Your PC performance is good."),
             QStringLiteral("Beschleunigt. Ihr PC läuft gut."));
    QCOMPARE(QCoreApplication::translate("ProcDataList", "Advice"), QStringLiteral("Empfohlen"));
    // A document that appends nulstr re-evaluates on the switch.
    QQmlEngine engine;
    HostEnvironment::instance().attach(&engine);
    QQmlComponent c(&engine);
    c.setData("import QtQuick\nItem { property string t: qsTranslate(\"QObject\", \"Hide\") + "
              "Translator.nulstr }",
              QUrl());
    std::unique_ptr<QObject> o(c.create());
    QVERIFY2(o, qPrintable(c.errorString()));
    QCOMPARE(o->property("t").toString(), QStringLiteral("Ausblenden"));
    QVERIFY(tr->setLanguage(QStringLiteral("en")));
    QCOMPARE(o->property("t").toString(), QStringLiteral("Hide"));
    QVERIFY(!tr->setLanguage(QStringLiteral("xx"))); // no such catalogue: English stays
    QCOMPARE(QCoreApplication::translate("QObject", "Hide"), QStringLiteral("Hide"));
    tr->setLanguage(QString());
}

void TestHostEnv::sizeText_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << quint64(0) << QStringLiteral("0.00 B");
    QTest::newRow("below a KiB") << quint64(1023) << QStringLiteral("1023.00 B");
    QTest::newRow("one KiB") << quint64(1024) << QStringLiteral("1.00 KB");
    QTest::newRow("just below a MiB") << quint64(1048575) << QStringLiteral("1024.00 KB");
    QTest::newRow("one and a half MiB") << quint64(1572864) << QStringLiteral("1.50 MB");
    QTest::newRow("one GiB") << quint64(1073741824) << QStringLiteral("1.00 GB");
    QTest::newRow("a TiB stays in GB") << (quint64(1) << 40) << QStringLiteral("1024.00 GB");
    QTest::newRow("largest") << ~quint64(0) << QStringLiteral("17179869184.00 GB");
}

void TestHostEnv::sizeText()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(vb::sizeText(bytes), text);
}

namespace {
MenuViewEx* makeMenu(QList<QVariant>& picked, bool secondEnabled = true)
{
    auto* menu = new MenuViewEx;
    QList<MenuActions*> items;
    for (int i = 0; i < 3; ++i) {
        auto* a = new MenuActions(QStringLiteral("Item %1").arg(i), menu, false,
                                  i != 1 || secondEnabled, QString());
        a->setData(i);
        QObject::connect(a, &MenuActions::triggered, menu,
                         [&picked](const QVariant& v) { picked << v; });
        items << a;
    }
    menu->addActions(items);
    menu->popMenuAt(QPoint(100, 100));
    if (!QTest::qWaitForWindowActive(menu))
        qWarning("menu window did not become active");
    return menu;
}
} // namespace

void TestHostEnv::menuKeyboard()
{
    QList<QVariant> picked;
    QPointer<MenuViewEx> menu = makeMenu(picked);
    QVERIFY(menu->rootObject());
    QTest::keyClick(menu.data(), Qt::Key_Down);
    QTest::keyClick(menu.data(), Qt::Key_Down);
    QTest::keyClick(menu.data(), Qt::Key_Return);
    QCOMPARE(picked, QList<QVariant>{1});
    QTRY_VERIFY(menu.isNull()); // a picked menu closes and goes away
}

void TestHostEnv::menuClosesOnOutsideClick()
{
    QList<QVariant> picked;
    QPointer<MenuViewEx> menu = makeMenu(picked);
    QSignalSpy closed(menu.data(), &BaseView::closed);
    QTest::mouseClick(menu.data(), Qt::LeftButton, {}, QPoint(menu->width() + 30, 5));
    QCOMPARE(closed.count(), 1);
    QVERIFY(picked.isEmpty());
    QTRY_VERIFY(menu.isNull());

    QPointer<MenuViewEx> again = makeMenu(picked);
    QTest::keyClick(again.data(), Qt::Key_Escape);
    QTRY_VERIFY(again.isNull());
    QVERIFY(picked.isEmpty());
}

void TestHostEnv::menuDisabledItemIsSkipped()
{
    QList<QVariant> picked;
    QPointer<MenuViewEx> menu = makeMenu(picked, false);
    QTest::keyClick(menu.data(), Qt::Key_Down); // item 0
    QTest::keyClick(menu.data(), Qt::Key_Down); // item 1 is disabled: item 2
    QTest::keyClick(menu.data(), Qt::Key_Return);
    QCOMPARE(picked, QList<QVariant>{2});
    QList<QVariant> none;
    QPointer<MenuViewEx> other = makeMenu(none, false);
    other->pick(1);
    QVERIFY(none.isEmpty());
    delete other.data();
}

void TestHostEnv::digitCells_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("digit");
    QTest::addColumn<int>("cell");
    QTest::newRow("strip from 0") << 0 << 7 << 7;
    QTest::newRow("four cells before the 0") << -4 << 0 << 4;
    QTest::newRow("last cell") << -4 << 9 << 13;
    QTest::newRow("past the strip") << -4 << 10 << -1;
    QTest::newRow("before the strip") << 0 << -1 << -1;
}

void TestHostEnv::digitCells()
{
    QFETCH(int, start);
    QFETCH(int, digit);
    QFETCH(int, cell);
    QTemporaryDir dir;
    const QString strip = dir.filePath(QStringLiteral("strip.png"));
    QImage img(560, 60, QImage::Format_ARGB32);
    img.fill(Qt::white);
    QVERIFY(img.save(strip));
    ImageDigit d;
    d.setDigitSize(QSize(40, 60));
    d.setDigitStart(start);
    d.setSource(QUrl::fromLocalFile(strip));
    QCOMPARE(d.cellFor(digit), cell);
}

void TestHostEnv::captureKeepsExactlyTheSelection_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QRect>("kept");
    QTest::newRow("down and right") << QPoint(10, 20) << QPoint(110, 70) << QRect(10, 20, 100, 50);
    QTest::newRow("up and left") << QPoint(110, 70) << QPoint(10, 20) << QRect(10, 20, 100, 50);
    QTest::newRow("one pixel") << QPoint(5, 5) << QPoint(6, 6) << QRect(5, 5, 1, 1);
}

void TestHostEnv::captureKeepsExactlyTheSelection()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QRect, kept);
    QQuickWindow w;
    w.resize(300, 200);
    auto* desk = new ImageDesktop(w.contentItem());
    desk->setSize(QSizeF(w.size()));
    desk->setFocus(true);
    QRect everyScreen;
    for (QScreen* s : QGuiApplication::screens())
        everyScreen |= s->geometry();
    QCOMPARE(desk->capturedImage().size(), everyScreen.size());
    QSignalSpy captured(desk, &ImageDesktop::captured);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::mousePress(&w, Qt::LeftButton, {}, from);
    QTest::mouseMove(&w, to);
    QTest::mouseRelease(&w, Qt::LeftButton, {}, to);
    QCOMPARE(desk->selection(), kept);
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(captured.size(), 1);
    QCOMPARE(captured.first().first().value<QImage>().size(), kept.size());
}

QTEST_MAIN(TestHostEnv)
#include "tst_hostenv.moc"

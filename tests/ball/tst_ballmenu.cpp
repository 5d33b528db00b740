// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's context menu: its items in order, the capture item naming its hot key only while
// the key is registered, and every item offered, with its icon.
#include "ball/ballmenu.h"
#include "helper/menuviewex.h"

#include <QFile>
#include <QtTest>

class TestBallMenu : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void items_data();
    void items();
};

void TestBallMenu::items_data()
{
    QTest::addColumn<bool>("hotKey");
    QTest::addColumn<QString>("captureText");
    QTest::newRow("hot key registered") << true << QStringLiteral("Screen Capture (Ctrl+Alt+C)");
    QTest::newRow("hot key not registered") << false << QStringLiteral("Screen Capture");
}

void TestBallMenu::items()
{
    QFETCH(bool, hotKey);
    QFETCH(QString, captureText);
    QObject parent;
    const vb::ball::BallMenuItems m = vb::ball::makeBallMenuItems(&parent, hotKey);
    const QList<MenuActions*> items = m.inOrder();
    QStringList texts;
    for (MenuActions* a : items) {
        QVERIFY(a);
        QCOMPARE(a->parent(), &parent);
        texts << a->text();
        QVERIFY2(QFile::exists(a->iconPath()), qPrintable(a->iconPath()));
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("Open Boost Panel"), captureText,
                                 QStringLiteral("Change Skin"), QStringLiteral("Hide"),
                                 QStringLiteral("Open Verdant Suite")}));
    for (MenuActions* a : items)
        QVERIFY(a->isEnabled());
    // The skin item and the hide item are one group.
    QVERIFY(!m.changeSkin->separatorAfter());
    QVERIFY(m.screenCapture->separatorAfter());
}

QTEST_MAIN(TestBallMenu)
#include "tst_ballmenu.moc"

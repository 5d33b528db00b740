// SPDX-License-Identifier: GPL-3.0-or-later
// The real ball window with its real document: it publishes its skin catalogue, wears the
// stored skin at start (or the default face when it is gone) and follows a new choice.
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "helper/setsmanager.h"
#include "platform/fake/fakeplatform.h"
#include "skins/skinslist.h"

#include <QQmlContext>
#include <QQuickItem>
#include <QtTest>

using namespace vb::platform;

class TestBallWearsSkin : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void storedSkinAtStart_data();
    void storedSkinAtStart();
    void followsTheChoice();

private:
    Platform m_backends;
};

void TestBallWearsSkin::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestBallWearsSkin::init()
{
    m_backends = vb::test::nativeExcept(vb::test::BallFakes().platform());
    SetsManager::removeValueUser(SkinsList::kSettingKey);
}

void TestBallWearsSkin::cleanup()
{
    SetsManager::removeValueUser(SkinsList::kSettingKey);
}

void TestBallWearsSkin::storedSkinAtStart_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QSize>("size");
    QTest::newRow("first start") << QVariant() << QSize(120, 48);
    QTest::newRow("egg") << QVariant(QStringLiteral("qrc:/Ball/Skins/BallSkins/egg/main.qml"))
                         << QSize(120, 115);
    QTest::newRow("Halloween") << QVariant(QStringLiteral(
                                      "qrc:/Ball/Skins/BallSkins/Halloween/main.qml"))
                               << QSize(200, 110);
    QTest::newRow("gone") << QVariant(QStringLiteral("/nonexistent/BallSkins/x/main.qml"))
                          << QSize(120, 48);
}

void TestBallWearsSkin::storedSkinAtStart()
{
    QFETCH(QVariant, stored);
    QFETCH(QSize, size);
    if (stored.isValid())
        SetsManager::saveValueUser(SkinsList::kSettingKey, stored);
    BallViewer ball(nullptr, m_backends);
    QVERIFY(ball.skinCatalogue());
    ball.setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    QVERIFY(ball.rootObject());
    QCOMPARE(ball.rootContext()->contextProperty(QStringLiteral("SkinsList")).value<QObject*>(),
             ball.skinCatalogue().get());
    QCOMPARE(ball.rootContext()->contextProperty(QStringLiteral("EP")).value<QObject*>(), &ball);
    QTRY_COMPARE(ball.size(), size);
    QCOMPARE(ball.rootObject()->size(), QSizeF(size));
}

void TestBallWearsSkin::followsTheChoice()
{
    BallViewer ball(nullptr, m_backends);
    ball.setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    QTRY_COMPARE(ball.size(), QSize(120, 48));
    SkinsList* skins = ball.skinCatalogue().get();
    skins->loadSkins();
    QVERIFY(skins->qmlSelectIndex(1)); // Christmas
    QTRY_COMPARE(ball.size(), QSize(170, 180));
    QCOMPARE(SetsManager::readValueUser(SkinsList::kSettingKey).toString(),
             QStringLiteral("qrc:/Ball/Skins/BallSkins/Christmas/main.qml"));
    QVERIFY(skins->qmlSelectIndex(0)); // Default
    QTRY_COMPARE(ball.size(), QSize(120, 48));
}

QTEST_MAIN(TestBallWearsSkin)
#include "tst_ballwearsskin.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The screen capture's two pieces: the hot key that asks for it (registered until it holds,
// never twice) and the launcher that runs one capture process at a time.
#include "ball/capturehotkey.h"
#include "ball/capturelauncher.h"
#include "platform/fake/fakeplatform.h"

#include <QProcess>
#include <QtTest>

using vb::ball::CaptureHotKey;
using vb::ball::CaptureLauncher;
using vb::platform::HotKeyResult;

Q_DECLARE_METATYPE(HotKeyResult)

class TestBallCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void hotKey_data();
    void hotKey();
    void hotKeyWithoutBackend();
    void oneCaptureAtATime();
    void failedStartAllowsTheNext();
    void startsTheHost();
};

void TestBallCapture::hotKey_data()
{
    QTest::addColumn<HotKeyResult>("first");
    QTest::addColumn<bool>("registeredFirst");
    QTest::newRow("registered") << HotKeyResult::Registered << true;
    QTest::newRow("taken by another program") << HotKeyResult::Conflict << false;
    QTest::newRow("failed") << HotKeyResult::Failed << false;
}

void TestBallCapture::hotKey()
{
    QFETCH(HotKeyResult, first);
    QFETCH(bool, registeredFirst);
    auto keys = std::make_shared<vb::platform::fake::FakeHotKeys>();
    CaptureHotKey hotKey(keys);
    int pressed = 0;
    keys->nextResult = first;
    QCOMPARE(hotKey.ensureRegistered(7, [&pressed] { ++pressed; }), registeredFirst);
    QCOMPARE(hotKey.isRegistered(), registeredFirst);
    // Until it holds, each call tries again; after that never.
    keys->nextResult = HotKeyResult::Registered;
    QVERIFY(hotKey.ensureRegistered(7, [&pressed] { ++pressed; }));
    QVERIFY(hotKey.ensureRegistered(7, [&pressed] { ++pressed; }));
    QCOMPARE(keys->attempts, registeredFirst ? 1 : 2);
    QCOMPARE(keys->registered.size(), size_t(1));
    const auto& entry = keys->registered.at(CaptureHotKey::kId);
    QCOMPARE(entry.window, uintptr_t(7));
    QCOMPARE(entry.modifiers, unsigned(vb::platform::ModControl | vb::platform::ModAlt));
    QCOMPARE(entry.virtualKey, unsigned('C'));
    QVERIFY(keys->press(CaptureHotKey::kId));
    QVERIFY(keys->press(CaptureHotKey::kId));
    QCOMPARE(pressed, 2);
    // A press reported under another id is not ours.
    entry.handler(CaptureHotKey::kId + 1);
    QCOMPARE(pressed, 2);
}

void TestBallCapture::hotKeyWithoutBackend()
{
    CaptureHotKey hotKey(nullptr);
    QVERIFY(!hotKey.ensureRegistered(7, [] {}));
    QVERIFY(!hotKey.isRegistered());
}

void TestBallCapture::oneCaptureAtATime()
{
    // cat runs until its input closes, so the test decides when the capture ends.
    CaptureLauncher launcher(QStringLiteral("cat"), {});
    QSignalSpy finished(&launcher, &CaptureLauncher::finished);
    for (int round = 0; round < 2; ++round) {
        QVERIFY(launcher.start());
        QVERIFY(launcher.isRunning());
        QVERIFY(!launcher.start());
        const QList<QProcess*> procs = launcher.findChildren<QProcess*>();
        QCOMPARE(procs.size(), 1);
        QVERIFY(procs[0]->waitForStarted());
        QVERIFY(!launcher.start());
        procs[0]->closeWriteChannel();
        QVERIFY(finished.wait());
        QCOMPARE(finished.size(), round + 1);
        QCOMPARE(finished.last().at(0).toInt(), 0);
        QVERIFY(!launcher.isRunning());
        // The ended process goes away.
        QTRY_VERIFY(launcher.findChildren<QProcess*>().isEmpty());
    }
}

void TestBallCapture::failedStartAllowsTheNext()
{
    CaptureLauncher launcher(QStringLiteral("/nonexistent/vb-capture"), {});
    QSignalSpy finished(&launcher, &CaptureLauncher::finished);
    QVERIFY(launcher.start());
    QTRY_COMPARE(finished.size(), 1);
    QVERIFY(!launcher.isRunning());
    QVERIFY(launcher.start());
    QTRY_COMPARE(finished.size(), 2);
}

void TestBallCapture::startsTheHost()
{
    const CaptureLauncher launcher;
    QCOMPARE(launcher.program(), QCoreApplication::applicationFilePath());
    QCOMPARE(launcher.arguments(), QStringList{QStringLiteral("-ScreenCapture")});
}

QTEST_GUILESS_MAIN(TestBallCapture)
#include "tst_ballcapture.moc"

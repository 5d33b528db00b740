// SPDX-License-Identifier: GPL-3.0-or-later
// The filter service's memory release, asked by hostile clients: root is served at once; an
// ordinary user only once polkit (here a stand-in authority that answers as the test tells it,
// and the real pkcheck, which has no polkit daemon to ask on this machine) has authorised the
// very process that asks; requests with input, a second release while one runs, a user asking
// again at once and an authority that never answers are all refused with their own result.
// Needs root. It runs in a PID namespace of its own, so the service's releases reach only the
// processes started here; the service runs on sockets in a folder of the test's own.
#include "filterwire/filterwire.h"
#include "platform/linux/filterclient.h"
#include "platform/linux/releaseworkingsets.h"
#include "testprocs.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using vb::platform::linux_::ServiceRelease;
namespace wire = vb::filterwire;

namespace {

// What a client saw, passed back from its child process.
struct Seen
{
    bool done = false;
    uint32_t error = 0;
    quint64 released = 0;
    pid_t pid = 0;
};

// The service's raw answer to one release request with the given input.
Seen askRaw(const std::string& dir, std::vector<uint8_t> input, int timeoutMs = 20000)
{
    Seen s;
    s.pid = ::getpid();
    vb::platform::linux_::SocketFilterDevice device(dir, timeoutMs);
    uint32_t error = 0;
    const auto handle = device.open(false, error);
    if (!handle) {
        s.error = error;
        return s;
    }
    std::vector<uint8_t> out;
    size_t got = 0;
    s.error = handle->control(wire::CodeReleaseMemory, input, out, wire::ReleaseResultSize, got);
    wire::ReleaseResult r;
    s.done = s.error == wire::ErrSuccess && wire::decodeReleaseResult(out.data(), got, r);
    s.released = r.releasedBytes;
    return s;
}

} // namespace

class TestReleaseService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void whoIsServed_data();
    void whoIsServed();
    void inputIsRefused();
    void oneAtATimeAndNotAgainAtOnce();
    void anAuthorityThatNeverAnswers();
    void realPolkitWithoutItsDaemon();

private:
    // Starts a service with the given authority; false when it did not get ready.
    bool startService(const QString& authority, int authSeconds);
    void stopService();
    void verdict(uid_t uid, const QByteArray& what);
    QString authorityLog() const;

    QTemporaryDir m_dir;
    QString m_sockets;
    QProcess m_service;
    std::unique_ptr<vbtest::Holder> m_holder;
};

void TestReleaseService::initTestCase()
{
    QCOMPARE(::geteuid(), 0u);
    QVERIFY(m_dir.isValid());
    ::chmod(m_dir.path().toLocal8Bit().constData(), 0755);
    m_sockets = m_dir.filePath(QStringLiteral("run"));
    // The stand-in authority: pkcheck's command line, a verdict per user the test writes,
    // and every call written down.
    const QString authority = m_dir.filePath(QStringLiteral("authority"));
    QFile script(authority);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\n"
                                "echo \"$@\" >> %1/authority.log\n"
                                "subject=$4; uid=${subject##*,}\n"
                                "case \"$(cat %1/verdict.$uid 2>/dev/null)\" in\n"
                                "  yes) exit 0 ;;\n"
                                "  hold) while [ ! -e %1/go ]; do sleep 0.05; done; exit 0 ;;\n"
                                "  never) exec sleep 60 ;;\n"
                                "  *) exit 1 ;;\n"
                                "esac\n")
                     .arg(m_dir.path())
                     .toUtf8());
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // A process of root's with a file to page out, for every release to find.
    m_holder = std::make_unique<vbtest::Holder>(m_dir.filePath(QStringLiteral("hold.dat")), 48, 0);
    QVERIFY(m_holder->ready());
    QVERIFY(startService(authority, 3));
}

void TestReleaseService::cleanupTestCase()
{
    stopService();
    m_holder.reset();
}

bool TestReleaseService::startService(const QString& authority, int authSeconds)
{
    stopService();
    m_service.setProgram(QStringLiteral(VB_BIN_DIR "/wfp/x64/filterd"));
    m_service.setArguments({QStringLiteral("--socket-dir"), m_sockets,
                            QStringLiteral("--state-dir"), m_dir.filePath(QStringLiteral("state")),
                            QStringLiteral("--mechanism"), QStringLiteral("diag"),
                            QStringLiteral("--release-authority"), authority,
                            QStringLiteral("--release-auth-timeout"), QString::number(authSeconds),
                            QStringLiteral("--release-pause"), QStringLiteral("60")});
    m_service.setProcessChannelMode(QProcess::MergedChannels);
    m_service.start();
    QByteArray err;
    for (int i = 0; i < 200 && !err.contains("filterd: ready"); ++i) {
        if (!m_service.waitForReadyRead(100) && m_service.state() == QProcess::NotRunning)
            break;
        err += m_service.readAll();
    }
    if (!err.contains("filterd: ready"))
        qWarning("filterd: %s", err.constData());
    return err.contains("filterd: ready");
}

void TestReleaseService::stopService()
{
    if (m_service.state() == QProcess::NotRunning)
        return;
    m_service.terminate();
    if (!m_service.waitForFinished(10000)) {
        m_service.kill();
        m_service.waitForFinished(5000);
    }
}

void TestReleaseService::verdict(uid_t uid, const QByteArray& what)
{
    QFile f(m_dir.filePath(QStringLiteral("verdict.%1").arg(uid)));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(what);
}

QString TestReleaseService::authorityLog() const
{
    QFile f(m_dir.filePath(QStringLiteral("authority.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void TestReleaseService::whoIsServed_data()
{
    QTest::addColumn<uint>("uid");
    QTest::addColumn<QByteArray>("verdict");
    QTest::addColumn<uint>("error");
    QTest::newRow("root, never asked about") << 0u << QByteArray("no") << uint(wire::ErrSuccess);
    QTest::newRow("a user polkit does not authorise")
        << 2101u << QByteArray("no") << uint(wire::ErrAccessDenied);
    QTest::newRow("a user polkit authorises")
        << 2102u << QByteArray("yes") << uint(wire::ErrSuccess);
}

void TestReleaseService::whoIsServed()
{
    QFETCH(uint, uid);
    QFETCH(QByteArray, verdict);
    QFETCH(uint, error);
    this->verdict(uid, verdict);
    QVERIFY(m_holder->touch()); // its file back in memory
    QVERIFY(vbtest::statusKb(m_holder->pid(), "RssFile") >= 48 * 1024);
    const qint64 file0 = vbtest::statusKb(m_holder->pid(), "RssFile");
    const std::string dir = m_sockets.toStdString();
    const int logLines = authorityLog().count(QLatin1Char('\n'));
    const auto seen = uid == 0 ? std::optional<Seen>(askRaw(dir, {}))
                               : vbtest::asUser<Seen>(uid, [&] { return askRaw(dir, {}); });
    QVERIFY(seen);
    const qint64 file1 = vbtest::statusKb(m_holder->pid(), "RssFile");
    qInfo("error %u, %llu bytes; root's holder %lld -> %lld kB", seen->error, seen->released, file0,
          file1);
    QCOMPARE(seen->error, uint32_t(error));
    QCOMPARE(seen->done, error == wire::ErrSuccess);
    const QStringList calls = authorityLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (uid == 0) {
        QCOMPARE(calls.size(), logLines); // root is not asked about
    } else {
        // polkit was asked about the very process that asked, with its start time.
        QCOMPARE(calls.size(), logLines + 1);
        const QStringList words = calls.last().split(QLatin1Char(' '));
        QCOMPARE(words.value(0), QStringLiteral("--action-id"));
        QCOMPARE(words.value(1), QStringLiteral("org.verdantsuite.ball.release-memory"));
        QCOMPARE(words.value(2), QStringLiteral("--process"));
        const QStringList subject = words.value(3).split(QLatin1Char(','));
        QCOMPARE(subject.size(), 3);
        QCOMPARE(subject.at(0).toInt(), int(seen->pid));
        QVERIFY(subject.at(1).toULongLong() > 0);
        QCOMPARE(subject.at(2).toUInt(), uid);
    }
    if (error == wire::ErrSuccess) {
        // Every process of the machine was emptied, root's holder with it, and the figure is
        // at least what left the holder.
        QVERIFY(file1 < file0 / 4);
        QVERIFY(seen->released >= quint64(file0 - file1) * 1024 * 9 / 10);
    } else {
        QVERIFY(file1 >= file0 * 95 / 100);
        QCOMPARE(seen->released, quint64(0));
    }
}

void TestReleaseService::inputIsRefused()
{
    // The service alone picks the processes: a request that names any is refused unread.
    verdict(2110, "yes");
    const std::string dir = m_sockets.toStdString();
    const auto seen = vbtest::asUser<Seen>(2110, [&] {
        return askRaw(dir, {0x39, 0x05, 0, 0}); // "pid 1337"
    });
    QVERIFY(seen);
    QCOMPARE(seen->error, uint32_t(wire::ErrInvalidParameter));
    QVERIFY(!authorityLog().contains(QStringLiteral(",2110")));
    // The library's client says it plainly.
    const auto why = vbtest::asUser<bool>(2111, [&] {
        const auto a = ServiceRelease(dir, 10000).ask();
        return !a.done && !a.why.empty();
    });
    QVERIFY(why && *why); // 2111 has no verdict: not authorised
}

void TestReleaseService::oneAtATimeAndNotAgainAtOnce()
{
    const std::string dir = m_sockets.toStdString();
    QFile::remove(m_dir.filePath(QStringLiteral("go")));
    verdict(2120, "hold");
    verdict(2121, "yes");
    // The first release waits in its authorisation until the test lets it go.
    vbtest::AsUser<Seen> first(2120, [&] { return askRaw(dir, {}); });
    QTRY_VERIFY(authorityLog().contains(QStringLiteral(",2120 ")));
    // Meanwhile a flood from another user and from root: each refused at once as busy.
    for (int i = 0; i < 5; ++i) {
        const auto other = vbtest::asUser<Seen>(2121, [&] { return askRaw(dir, {}); });
        QVERIFY(other);
        QCOMPARE(other->error, uint32_t(wire::ErrBusy));
    }
    QCOMPARE(askRaw(dir, {}).error, uint32_t(wire::ErrBusy));
    QFile go(m_dir.filePath(QStringLiteral("go")));
    QVERIFY(go.open(QIODevice::WriteOnly));
    go.close();
    const auto seen = first.collect();
    QVERIFY(seen);
    QCOMPARE(seen->error, uint32_t(wire::ErrSuccess));
    QVERIFY(seen->done);
    // The same user again at once: refused, and polkit is not even asked.
    const int asked = authorityLog().count(QStringLiteral(",2120 "));
    const auto again = vbtest::asUser<Seen>(2120, [&] { return askRaw(dir, {}); });
    QVERIFY(again);
    QCOMPARE(again->error, uint32_t(wire::ErrBusy));
    QCOMPARE(authorityLog().count(QStringLiteral(",2120 ")), asked);
    // Another user, once the release has ended, is served.
    const auto next = vbtest::asUser<Seen>(2121, [&] { return askRaw(dir, {}); });
    QVERIFY(next);
    QCOMPARE(next->error, uint32_t(wire::ErrSuccess));
}

void TestReleaseService::anAuthorityThatNeverAnswers()
{
    // The service gives up on it (after 3 s here) and says so; the next user is served.
    verdict(2130, "never");
    verdict(2131, "yes");
    const std::string dir = m_sockets.toStdString();
    const auto seen = vbtest::asUser<Seen>(2130, [&] { return askRaw(dir, {}); });
    QVERIFY(seen);
    QCOMPARE(seen->error, uint32_t(wire::ErrTimeout));
    const auto next = vbtest::asUser<Seen>(2131, [&] { return askRaw(dir, {}); });
    QVERIFY(next);
    QCOMPARE(next->error, uint32_t(wire::ErrSuccess));
}

void TestReleaseService::realPolkitWithoutItsDaemon()
{
    if (!QFile::exists(QStringLiteral("/usr/bin/pkcheck")))
        QSKIP("pkcheck is not installed");
    QVERIFY(startService(QStringLiteral("/usr/bin/pkcheck"), 20));
    const std::string dir = m_sockets.toStdString();
    const auto seen = vbtest::asUser<Seen>(2140, [&] { return askRaw(dir, {}); });
    QVERIFY(seen);
    // No polkit daemon answers on this machine: no authorisation, and no release.
    QCOMPARE(seen->error, uint32_t(wire::ErrAccessDenied));
    QVERIFY(!seen->done);
}

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("VB_TEST_CONFINED")) {
        qputenv("VB_TEST_CONFINED", "1");
        std::vector<char*> args{const_cast<char*>("unshare"), const_cast<char*>("--pid"),
                                const_cast<char*>("--fork"), const_cast<char*>("--mount-proc")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("unshare", args.data());
        std::perror("unshare");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestReleaseService test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_releaseservice.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Reading "pulsar.app": the lines that count, the lines that are skipped, and publication.
#include "../lib/files.h"
#include "helper/setsgeneral.h"
#include "procs/processjudge.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <boost/thread.hpp>

#include <sys/stat.h>

using Entries = QMap<QString, uint>;

namespace {
Entries entriesOf(const JudgeUserConfig& c)
{
    Entries e;
    for (const auto& kv : c.entries())
        e.insert(kv.first, kv.second);
    return e;
}

QByteArray junk(int bytes, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(bytes, '\0');
    for (char& c : b)
        c = static_cast<char>(gen.bounded(256));
    return b;
}
} // namespace

class TestUserConfig : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QTemporaryDir m_home; // the user's XDG config folder

    void writeConfig(const QByteArray& bytes)
    {
        QVERIFY(vb::test::put(m_dir.filePath(QStringLiteral("pulsar.app")), bytes));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    }
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_home.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_home.path()));
        SetsGeneral::setAppPathForTests(m_dir.path());
        QFile::remove(m_dir.filePath(QStringLiteral("pulsar.app")));
        boost::atomic_store(&currentUserConfig, boost::shared_ptr<JudgeUserConfig>());
    }
    void cleanupTestCase() { SetsGeneral::setAppPathForTests(QString()); }

    void lines_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Entries>("expected");
        QTest::addColumn<int>("skipped");
        QTest::newRow("plain") << QByteArray("cups.service=3\nbluetooth.service=19\n")
                               << Entries{{QStringLiteral("cups.service"), 3},
                                          {QStringLiteral("bluetooth.service"), 19}}
                               << 0;
        QTest::newRow("capitals are lowered")
            << QByteArray("ModemManager.service=1\n")
            << Entries{{QStringLiteral("modemmanager.service"), 1}} << 0;
        QTest::newRow("space before = stays in the key")
            << QByteArray("cups.service =3\n") << Entries{{QStringLiteral("cups.service "), 3}}
            << 0;
        QTest::newRow("space around the number")
            << QByteArray("a= 17 \n") << Entries{{QStringLiteral("a"), 17}} << 0;
        QTest::newRow("two equals signs")
            << QByteArray("a=1=2\nb=2\n") << Entries{{QStringLiteral("b"), 2}} << 1;
        QTest::newRow("empty key") << QByteArray("=3\n") << Entries{{QString(), 3}} << 0;
        QTest::newRow("empty line")
            << QByteArray("\n\na=1\n") << Entries{{QStringLiteral("a"), 1}} << 0;
        QTest::newRow("no number")
            << QByteArray("a=\nb=x\nc=-1\nd=0x3\ne=1\n") << Entries{{QStringLiteral("e"), 1}} << 4;
        QTest::newRow("first line wins") << QByteArray("Cups.service=1\ncups.service=2\n")
                                         << Entries{{QStringLiteral("cups.service"), 1}} << 0;
        QTest::newRow("no final line feed")
            << QByteArray("a=1\nb=2") << Entries{{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}}
            << 0;
        QTest::newRow("CRLF") << QByteArray("a=1\r\nb=2\r\n")
                              << Entries{{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}} << 0;
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "a=1\n")
                                         << Entries{{QStringLiteral("a"), 1}} << 0;
        QTest::newRow("UTF-8 name") << QByteArray("d\xC3\xA9mon=2\n")
                                    << Entries{{QString::fromUtf8("d\xC3\xA9mon"), 2}} << 0;
        QTest::newRow("invalid UTF-8") << QByteArray("bad\xFF\xFEname=3\ngood=1\n")
                                       << Entries{{QStringLiteral("good"), 1}} << 1;
        QTest::newRow("binary with NULs")
            << (QByteArray("x=1\n") + QByteArray("\0\0\x01\x02=\x7f\n", 7) + QByteArray("y=2\n"))
            << Entries{{QStringLiteral("x"), 1}, {QStringLiteral("y"), 2}} << 1;
        // The tail of an over-long line must not pass for a line of its own.
        QTest::newRow("over-long line") << (QByteArray(4095, 'y') + QByteArray("cups=3\nok=1\n"))
                                        << Entries{{QStringLiteral("ok"), 1}} << 1;
        QTest::newRow("nothing") << QByteArray() << Entries{} << 0;
    }
    void lines()
    {
        QFETCH(QByteArray, file);
        QFETCH(Entries, expected);
        QFETCH(int, skipped);
        writeConfig(file);
        QFile f(m_dir.filePath(QStringLiteral("pulsar.app")));
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        int bad = -1;
        const auto config = JudgeUserConfig::read(f, &bad);
        QVERIFY(config);
        QCOMPARE(entriesOf(*config), expected);
        QCOMPARE(bad, skipped);
    }

    void flagsAreFoundWhateverTheCase()
    {
        writeConfig("NetworkService.Service=3\n");
        const auto config = loadUserConfig();
        QVERIFY(config);
        QCOMPARE(config->flagsOf(L"networkservice.service"), 3u);
        QCOMPARE(config->flagsOf(L"NETWORKSERVICE.SERVICE"), 3u);
        QCOMPARE(config->flagsOf(L"other.service"), 0u);
    }

    void hugeAndBinaryFilesKeepTheirGoodLines()
    {
        // Megabytes of noise with good lines between: every good line counts, nothing breaks.
        QByteArray file;
        for (int i = 0; i < 40; ++i) {
            file += junk(64 * 1024, static_cast<quint32>(i + 1));
            file += QStringLiteral("\ngood%1.service=%2\n").arg(i).arg(i % 3 + 1).toUtf8();
        }
        writeConfig(file);
        const auto config = loadUserConfig();
        QVERIFY(config);
        for (int i = 0; i < 40; ++i)
            QCOMPARE(config->flagsOf(QStringLiteral("good%1.service").arg(i).toStdWString()),
                     uint(i % 3 + 1));
    }

    void loadingPublishes()
    {
        writeConfig("a.service=1\n");
        QVERIFY(!boost::atomic_load(&currentUserConfig));
        const auto first = loadUserConfig();
        QVERIFY(first);
        QCOMPARE(boost::atomic_load(&currentUserConfig).get(), first.get());
        // A later reading replaces the published one as a whole; the first stays as it was.
        writeConfig("a.service=2\n");
        const auto second = loadUserConfig();
        QCOMPARE(boost::atomic_load(&currentUserConfig).get(), second.get());
        QCOMPARE(first->flagsOf(L"a.service"), 1u);
        QCOMPARE(second->flagsOf(L"a.service"), 2u);
    }

    // Installed, the application folder's file is read-only; the user's own one wins.
    void theUsersOwnFileFirst_data()
    {
        QTest::addColumn<QByteArray>("own");
        QTest::addColumn<QByteArray>("shipped");
        QTest::addColumn<uint>("flags");
        QTest::newRow("own only") << QByteArray("a.service=2\n") << QByteArray() << 2u;
        QTest::newRow("shipped only") << QByteArray() << QByteArray("a.service=1\n") << 1u;
        QTest::newRow("both") << QByteArray("a.service=2\n") << QByteArray("a.service=1\n") << 2u;
        QTest::newRow("own is a folder") << QByteArray("/") << QByteArray("a.service=1\n") << 1u;
    }
    void theUsersOwnFileFirst()
    {
        QFETCH(QByteArray, own);
        QFETCH(QByteArray, shipped);
        QFETCH(uint, flags);
        const QString ownPath = m_home.filePath(QStringLiteral("verdant-ball/pulsar.app"));
        if (own == "/") {
            QVERIFY(QDir().mkpath(ownPath));
        } else if (!own.isEmpty()) {
            QVERIFY(vb::test::put(ownPath, own));
        }
        if (!shipped.isEmpty())
            writeConfig(shipped);
        const auto config = loadUserConfig();
        QVERIFY(config);
        QCOMPARE(config->flagsOf(L"a.service"), flags);
    }

    void aMissingFileKeepsThePreviousConfiguration()
    {
        writeConfig("a.service=1\n");
        const auto first = loadUserConfig();
        QVERIFY(QFile::remove(m_dir.filePath(QStringLiteral("pulsar.app"))));
        QVERIFY(!loadUserConfig());
        QCOMPARE(boost::atomic_load(&currentUserConfig).get(), first.get());
    }

    // Opening a FIFO would block the sampling worker that loads the file: never opened.
    void notARegularFileIsNoConfiguration_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("folder") << false;
        QTest::newRow("FIFO") << true;
    }
    void notARegularFileIsNoConfiguration()
    {
        QFETCH(bool, fifo);
        const QString path = m_dir.filePath(QStringLiteral("pulsar.app"));
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("pulsar.app")));
        QVERIFY(!loadUserConfig());
        QVERIFY(!boost::atomic_load(&currentUserConfig));
        QVERIFY(fifo ? QFile::remove(path)
                     : QDir(m_dir.path()).rmdir(QStringLiteral("pulsar.app")));
    }

    void publishedOnAWorkerThreadReadOnThisOne()
    {
        writeConfig("w.service=2\n");
        boost::thread worker([] { loadUserConfig(); });
        worker.join();
        const auto seen = boost::atomic_load(&currentUserConfig);
        QVERIFY(seen);
        QCOMPARE(seen->flagsOf(L"w.service"), 2u);
    }

    void theShippedFileIsClean()
    {
        QFile f(QStringLiteral(VB_SOURCE_DIR "/host/pulsar.app"));
        QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
        int bad = -1;
        const auto config = JudgeUserConfig::read(f, &bad);
        QCOMPARE(bad, 0);
        QVERIFY(config->size() >= 10);
        int office = 0, game = 0;
        for (const auto& kv : config->entries()) {
            QVERIFY2(kv.first.endsWith(QLatin1String(".service")), qPrintable(kv.first));
            QVERIFY2((kv.second & ~0x13u) == 0 && (kv.second & 0x3u), qPrintable(kv.first));
            office += (kv.second & CF_Office) && !(kv.second & CF_Optional);
            game += (kv.second & CF_Game) && !(kv.second & CF_Optional);
        }
        QVERIFY(office > 0); // both modes have services to advise
        QVERIFY(game > 0);
        // Stopping these while they work (a dpkg run, a firmware flash) can damage the system:
        // a user may tick them, the file never does.
        for (const char* unit :
             {"apt-daily-upgrade.service", "unattended-upgrades.service", "packagekit.service",
              "packagekit-offline-update.service", "fwupd.service", "fwupd-refresh.service"}) {
            const uint f = config->flagsOf(QString::fromLatin1(unit).toStdWString());
            QVERIFY2(!(f & (CF_Office | CF_Game)) || (f & CF_Optional), unit);
        }
        // Units only a session's manager runs exist nowhere as system units.
        for (const char* unit :
             {"tracker-store.service", "tracker-miner-fs-3.service", "tracker-extract-3.service",
              "kde-baloo.service", "evolution-calendar-factory.service", "syncthing.service"})
            QVERIFY2(!config->flagsOf(QString::fromLatin1(unit).toStdWString()), unit);
        QVERIFY(config->flagsOf(L"user:tracker-miner-fs-3.service") & CF_Office);
        // And the build puts it beside the host.
        QVERIFY(QFile::exists(QStringLiteral(VB_BIN_DIR "/pulsar.app")));
    }
};

QTEST_GUILESS_MAIN(TestUserConfig)
#include "tst_userconfig.moc"

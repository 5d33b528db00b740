// SPDX-License-Identifier: GPL-3.0-or-later
// The filter service managed for real without systemd: installed, started and supervised by
// the library's service functions, restarted when it dies, removed again. Needs root; the
// service runs on sockets in a folder of the test's own.
#include "flow/psfilter.h"
#include "platform/linux/filterclient.h"
#include "platform/platform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

using namespace vb::platform;

namespace {

int readPid(const QString& file)
{
    std::ifstream in(file.toStdString());
    int pid = 0;
    in >> pid;
    return pid;
}

// The supervisor's one child: the service process itself.
int childOf(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    int child = 0;
    in >> child;
    return child;
}

bool alive(int pid)
{
    return pid > 0 && kill(pid, 0) == 0;
}

} // namespace

class TestFilterService : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(geteuid() == 0);
        m_state = std::make_unique<QTemporaryDir>();
        m_run = std::make_unique<QTemporaryDir>();
        QVERIFY(m_state->isValid() && m_run->isValid());
        m_binary = QStringLiteral(VB_BIN_DIR "/wfp/x64/filterd");
        m_backends = Platform();
        m_backends.filterDevice =
            std::make_shared<linux_::SocketFilterDevice>(m_run->path().toStdString(), 2000);
        m_backends.driverService = std::make_shared<linux_::FilterService>(
            m_state->path().toStdString(), m_run->path().toStdString(), std::vector<std::string>{},
            false);
    }

    void cleanup()
    {
        // Whatever happened above, nothing of ours keeps running.
        const int supervisor = readPid(m_run->path() + QStringLiteral("/pswfp.pid"));
        removeDriverService(m_backends, L"pswfp");
        if (alive(supervisor)) {
            const int child = childOf(supervisor);
            kill(supervisor, SIGKILL);
            if (alive(child))
                kill(child, SIGKILL);
        }
    }

    void missingService()
    {
        auto service = m_backends.driverService;
        QCOMPARE(int(service->state("pswfp")), int(ServiceState::Missing));
        QCOMPARE(service->start("pswfp"), uint32_t(ErrServiceDoesNotExist));
        QCOMPARE(service->remove("pswfp"), uint32_t(ErrServiceDoesNotExist));
        QVERIFY(!startDriverService(m_backends, L"pswfp"));
        QCOMPARE(service->install("bad name", m_binary.toStdString()),
                 uint32_t(ErrInvalidParameter));
        QCOMPARE(service->install("pswfp", "relative/filterd"), uint32_t(ErrInvalidParameter));
        QCOMPARE(service->install("pswfp", "/no/such/filterd"), uint32_t(ErrFileNotFound));
    }

    void installStartSuperviseRemove()
    {
        {
            PSFilter filter(m_backends.filterDevice);
            QCOMPARE(filter.accessMode(), 0);
        }
        QVERIFY(installDriverService(m_backends, L"pswfp", m_binary.toStdWString()));
        auto service = m_backends.driverService;
        QCOMPARE(int(service->state("pswfp")), int(ServiceState::Running));
        QCOMPARE(service->install("pswfp", m_binary.toStdString()), uint32_t(ErrServiceExists));
        QVERIFY(
            installDriverService(m_backends, L"pswfp", m_binary.toStdWString())); // exists and runs
        QCOMPARE(service->start("pswfp"), uint32_t(ErrServiceAlreadyRunning));
        PSFilter filter(m_backends.filterDevice);
        QCOMPARE(filter.accessMode(), 2);
        QVERIFY(filter.queryConnections(nullptr, nullptr));

        // The service dies: the held filter drops to mode 0, the supervisor brings it back.
        const int supervisor = readPid(m_run->path() + QStringLiteral("/pswfp.pid"));
        QVERIFY(alive(supervisor));
        const int first = childOf(supervisor);
        QVERIFY(alive(first));
        QCOMPARE(kill(first, SIGKILL), 0);
        QTRY_VERIFY_WITH_TIMEOUT(
            !filter.queryConnections(nullptr, nullptr) || childOf(supervisor) != first, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(filter.accessMode() == 2, 10000);
        QVERIFY(filter.queryConnections(nullptr, nullptr));
        QVERIFY(childOf(supervisor) != first);

        QVERIFY(removeDriverService(m_backends, L"pswfp"));
        QCOMPARE(int(service->state("pswfp")), int(ServiceState::Missing));
        QTRY_VERIFY_WITH_TIMEOUT(!alive(supervisor), 5000);
        PSFilter after(m_backends.filterDevice);
        QCOMPARE(after.accessMode(), 0);
    }

    void ensureFromNothing()
    {
        QVERIFY(ensureDriver(m_backends, L"pswfp", m_binary.toStdWString()));
        PSFilter filter(m_backends.filterDevice);
        QTRY_COMPARE_WITH_TIMEOUT(filter.accessMode(), 2, 5000);
        // A second call finds the device and touches nothing.
        const int supervisor = readPid(m_run->path() + QStringLiteral("/pswfp.pid"));
        QVERIFY(ensureDriver(m_backends, L"pswfp", m_binary.toStdWString()));
        QCOMPARE(readPid(m_run->path() + QStringLiteral("/pswfp.pid")), supervisor);
    }

    // A root service never runs a file that another user could have replaced: neither when it
    // is installed nor when a recorded binary is started later.
    void untrustedBinaryRefused_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("all root's") << QString() << true;
        QTest::newRow("binary group-writable") << QStringLiteral("chmod 775 bin") << false;
        QTest::newRow("binary a user's") << QStringLiteral("chown 65534 bin") << false;
        QTest::newRow("folder writable by all") << QStringLiteral("chmod 777 dir") << false;
        QTest::newRow("folder a user's") << QStringLiteral("chown 65534 dir") << false;
        QTest::newRow("link to a shared folder") << QStringLiteral("link /tmp") << false;
    }
    void untrustedBinaryRefused()
    {
        QFETCH(QString, change);
        QFETCH(bool, trusted);
        QTemporaryDir dir(QStringLiteral(VB_BIN_DIR "/trust-XXXXXX"));
        QVERIFY(dir.isValid());
        QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        const QString bin = dir.filePath(QStringLiteral("filterd"));
        QVERIFY(QFile::copy(m_binary, bin));
        QVERIFY(chmod(QFile::encodeName(bin).constData(), 0755) == 0);
        QString path = bin;
        const QByteArray what = change.section(QLatin1Char(' '), 1).toUtf8();
        const QByteArray target = (what == "bin" ? bin : dir.path()).toUtf8();
        if (change.startsWith(QLatin1String("chmod")))
            QVERIFY(chmod(target.constData(), what == "bin" ? 0775 : 0777) == 0);
        else if (change.startsWith(QLatin1String("chown")))
            QVERIFY(chown(target.constData(), 65534, 65534) == 0);
        std::unique_ptr<QTemporaryDir> shared;
        if (change.startsWith(QLatin1String("link"))) {
            shared = std::make_unique<QTemporaryDir>();
            QVERIFY(QFile::copy(m_binary, shared->filePath(QStringLiteral("filterd"))));
            path = dir.filePath(QStringLiteral("linked"));
            QVERIFY(QFile::link(shared->filePath(QStringLiteral("filterd")), path));
        }
        auto service = m_backends.driverService;
        QCOMPARE(service->install("pswfp", path.toStdString()),
                 trusted ? uint32_t(ErrSuccess) : uint32_t(ErrAccessDenied));
        if (!trusted)
            return;
        // Trusted when installed, replaceable by a user when started: refused, nothing runs.
        QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
        QCOMPARE(service->start("pswfp"), uint32_t(ErrAccessDenied));
        QCOMPARE(int(service->state("pswfp")), int(ServiceState::Stopped));
    }

    void stoppedServiceStarts()
    {
        auto service = m_backends.driverService;
        QCOMPARE(service->install("pswfp", m_binary.toStdString()), uint32_t(ErrSuccess));
        QCOMPARE(int(service->state("pswfp")), int(ServiceState::Stopped));
        QVERIFY(startDriverService(m_backends, L"pswfp"));
        PSFilter filter(m_backends.filterDevice);
        QCOMPARE(filter.accessMode(), 2);
    }

private:
    Platform m_backends;
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<QTemporaryDir> m_run;
    QString m_binary;
};

QTEST_GUILESS_MAIN(TestFilterService)
#include "tst_filterservice.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The filter service managed for real without systemd: installed, started and supervised by
// the library's service functions, restarted when it dies, removed again. Needs root; the
// service runs on sockets in a folder of the test's own.
#include "flow/psfilter.h"
#include "platform/linux/filterclient.h"
#include "platform/platform.h"

#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
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

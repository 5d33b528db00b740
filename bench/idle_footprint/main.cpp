// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's cost while nothing happens: the demo host and the filter service for 60 s at idle
// with 300 extra sleeping processes, in percent of one core and resident megabytes, beside a
// bare QQuickView doing the same visible work over the same minute; and what one sampling pass
// costs per running process. Run by run.sh (root, confined).
#include "flow/flowdatanotifier.h"
#include "flow/processsetwatcher.h"
#include "memory/systemusagesampler.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

// utime + stime of a process and its threads, in clock ticks; -1 when gone.
long long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const int close = s.lastIndexOf(')');
    const QList<QByteArray> w = s.mid(close + 2).split(' ');
    return w.size() > 12 ? w[11].toLongLong() + w[12].toLongLong() : -1;
}

// CPU time of a process's threads in nanoseconds (the scheduler's own account, finer than the
// clock ticks of /proc/<pid>/stat); -1 when gone. Both programs keep their threads, so no
// ended thread's time is lost between two readings.
long long cpuNs(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList ids = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty())
        return -1;
    long long sum = 0;
    for (const QString& id : ids) {
        QFile f(tasks + QLatin1Char('/') + id + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            sum += f.readAll().split(' ').value(0).toLongLong();
    }
    return sum;
}

// CPU nanoseconds of each thread of a process, summed by thread name (Qt's and the ball's own
// threads are named; the GL driver's several threads share one).
std::map<QString, long long> cpuNsByThread(qint64 pid)
{
    std::map<QString, long long> byName;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& id : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + QLatin1Char('/') + id + QStringLiteral("/comm"));
        QFile f(tasks + QLatin1Char('/') + id + QStringLiteral("/schedstat"));
        if (!comm.open(QIODevice::ReadOnly) || !f.open(QIODevice::ReadOnly))
            continue;
        QString name = QString::fromUtf8(comm.readAll().trimmed());
        if (id.toLongLong() == pid)
            name = QStringLiteral("main");
        byName[name] += f.readAll().split(' ').value(0).toLongLong();
    }
    return byName;
}

double rssMegabytes(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// The filter service's processes: the supervisor the ball started and its service child.
std::vector<qint64> servicePids(const QString& binary)
{
    std::vector<qint64> pids;
    QFile pidFile(QStringLiteral("/run/pswfp/pswfp.pid"));
    if (pidFile.open(QIODevice::ReadOnly))
        pids.push_back(pidFile.readAll().trimmed().toLongLong());
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == binary &&
            std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    }
    return pids;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString bin = QStringLiteral(VB_BIN_DIR);
    const int seconds = qEnvironmentVariableIntValue("VB_BENCH_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("VB_BENCH_SECONDS")
                            : 60;
    const long tick = ::sysconf(_SC_CLK_TCK);

    std::vector<pid_t> sleepers;
    for (int i = 0; i < 300; ++i) {
        const pid_t p = ::fork();
        if (p == 0) {
            ::alarm(unsigned(seconds) + 120);
            for (;;)
                ::pause();
        }
        if (p > 0)
            sleepers.push_back(p);
    }

    // The host as a user starts it; as root it finds and starts the filter service itself.
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedChannels);
    host.start(bin + QStringLiteral("/verdant-ball-host"), {});
    host.waitForStarted(10000);
    // The baseline runs over the same minute, on the same display and the same busy machine.
    QProcess bare;
    bare.setProcessChannelMode(QProcess::ForwardedChannels);
    bare.start(bin + QStringLiteral("/bench_bare_view"), {QStringLiteral("--live")});
    bare.waitForStarted(10000);
    QThread::sleep(5); // past start-up and the first provisioning
    if (host.state() != QProcess::Running || bare.state() != QProcess::Running) {
        std::fprintf(stderr, "the host or the bare view did not start\n");
        return 1;
    }
    const QString filterd = bin + QStringLiteral("/wfp/x64/filterd");
    const std::vector<qint64> service = servicePids(filterd);

    const long long hostStart = cpuNs(host.processId());
    const std::map<QString, long long> hostThreadsStart = cpuNsByThread(host.processId());
    const long long bareStart = cpuNs(bare.processId());
    std::vector<long long> serviceStart;
    for (qint64 p : service)
        serviceStart.push_back(cpuTicks(p));
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(unsigned(seconds));
    const double wall = clock.elapsed() / 1000.0;
    const double hostCpu = (cpuNs(host.processId()) - hostStart) * 100.0 / (1e9 * wall);
    const double hostRss = rssMegabytes(host.processId());
    const std::map<QString, long long> hostThreads = cpuNsByThread(host.processId());
    const double bareCpu = (cpuNs(bare.processId()) - bareStart) * 100.0 / (1e9 * wall);
    const double bareRss = rssMegabytes(bare.processId());
    double serviceCpu = 0, serviceRss = 0;
    for (size_t i = 0; i < service.size(); ++i) {
        serviceCpu += (cpuTicks(service[i]) - serviceStart[i]) * 100.0 / (double(tick) * wall);
        serviceRss += rssMegabytes(service[i]);
    }

    // One sampling pass as the worker makes it, over every running process.
    const vb::platform::Platform native = vb::platform::makeNative();
    ProcessSetWatcher watcher(processIdsOf(native.processes),
                              [memory = native.memory] { return tickCountMs(memory); });
    watcher.start();
    watcher.changed();
    SystemUsageSampler sampler(native.memory);
    sampler.prime();
    PSFilter filter(native.filterDevice, native.volumes);
    TrafficSampleBuilder builder({native.filterDevice, native.volumes});
    const int passes = 200;
    QElapsedTimer passClock;
    passClock.start();
    for (int i = 0; i < passes; ++i) {
        // As the worker does: samples are shared read-only, each cycle fills its own copy.
        TotalMemoryCpuFlowInfo info = *sampler.sample();
        builder.begin();
        filter.queryConnections([&](const ConnectionDataItem& c) { builder.addConnection(c); },
                                [&](const ConnectionDataHistoryItem& h) { builder.addHistory(h); });
        builder.finish(uint32_t(i * 1000), info);
        watcher.changed();
    }
    const double passUs = passClock.nsecsElapsed() / 1000.0 / passes;
    const double perProcessUs = passUs / double(watcher.ids().size());

    host.terminate();
    host.waitForFinished(10000);
    bare.terminate();
    bare.waitForFinished(10000);
    for (pid_t p : sleepers) {
        ::kill(p, SIGKILL);
        ::waitpid(p, nullptr, 0);
    }

    std::printf("processes: %zu\n", watcher.ids().size());
    std::printf("filter service: %s (access mode %d)\n",
                service.empty() ? "not running" : "running", filter.accessMode());
    std::printf("sampling pass: %.1f us, %.3f us per process\n", passUs, perProcessUs);
    std::printf("service: %.3f %% cpu, %.1f MB\n", serviceCpu, serviceRss);
    for (const auto& [name, ns] : hostThreads) {
        const auto before = hostThreadsStart.find(name);
        const long long spent = ns - (before == hostThreadsStart.end() ? 0 : before->second);
        std::printf("host thread %s: %.4f %% cpu\n", qPrintable(name),
                    spent * 100.0 / (1e9 * wall));
    }
    std::printf("host: %.3f %% cpu, %.1f MB\n", hostCpu, hostRss);
    std::printf("bare view: %.3f %% cpu, %.1f MB\n", bareCpu, bareRss);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : -1.0; };
    std::printf("host/bare: %.2f cpu, %.2f resident\n", ratio(hostCpu, bareCpu),
                ratio(hostRss, bareRss));
    return 0;
}

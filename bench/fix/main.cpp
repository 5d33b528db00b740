// SPDX-License-Identifier: GPL-3.0-or-later
// Fixes a list of 100 ticked processes (children of the benchmark) and 10 running units
// (vbt-bulk-1 to 10 of the systemd box) and times it from qmlStartFix to the result. A 1 ms
// timer on the GUI thread records the loop's worst gap during the fix and, afterwards, for as
// long again without a fix. Prints one figure a line, the stall during the fix last.
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/systemdservices.h"
#include "procs/procdatalist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kProcesses = 100;
constexpr int kUnits = 10;

// The worst gap between ticks of a 1 ms timer while the loop runs.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            m_worstNs = std::max(m_worstNs, m_clock.nsecsElapsed());
            m_clock.restart();
        });
    }
    void start()
    {
        m_worstNs = 0;
        m_clock.start();
        m_timer.start();
    }
    double stopMs()
    {
        m_timer.stop();
        return double(std::max(m_worstNs, m_clock.nsecsElapsed())) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worstNs = 0;
};

// How long this thread has waited for a CPU, in ms: what a stall is made of when the thread
// itself has nothing to do.
double runQueueWaitMs()
{
    std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    unsigned long long run = 0, wait = 0;
    if (f) {
        if (std::fscanf(f, "%llu %llu", &run, &wait) != 2)
            wait = 0;
        std::fclose(f);
    }
    return double(wait) / 1e6;
}

void runLoopFor(qint64 ms)
{
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(ms), &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    vb::platform::Platform backends;
    auto procs = std::make_shared<vb::platform::linux_::ProcfsProcesses>();
    backends.processes = procs;
    backends.services = std::make_shared<vb::platform::linux_::SystemdServices>();
    backends.memory = std::make_shared<vb::platform::linux_::ProcfsMemory>();
    backends.workingSets = std::make_shared<vb::platform::linux_::PidfdWorkingSets>();

    QList<ProcListItem> rows;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t p = ::fork();
        if (p == 0) {
            ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (p < 0)
            break;
        children.push_back(p);
        const auto pid = static_cast<vb::platform::ProcessId>(p);
        ProcListItem r(ProcInfo(pid, L"/bin/sleep", 0, nullptr, nullptr), PK_Process, true);
        r.startTime = procs->startTime(pid);
        rows << r;
    }
    for (int i = 1; i <= kUnits; ++i) {
        const std::wstring unit = L"vbt-bulk-" + std::to_wstring(i) + L".service";
        rows << ProcListItem(ProcInfo(0, L"/bin/sleep", 0, unit.c_str(), nullptr), PK_Process,
                             true);
    }

    ProcDataList list(std::shared_ptr<IProcessJudge>(), nullptr, backends);
    list.swapItems(rows);
    StallMeter meter;

    QElapsedTimer fixClock;
    qint64 fixNs = 0;
    uint closed = 0;
    double fixStallMs = 0;
    double fixWaitMs = 0;
    QElapsedTimer refillClock;
    QEventLoop done;
    QObject::connect(&list, &ProcDataList::fixResultChanged, &list, [&](uint count, quint64) {
        fixNs = fixClock.nsecsElapsed();
        fixStallMs = meter.stopMs();
        fixWaitMs = runQueueWaitMs() - fixWaitMs;
        closed = count;
        refillClock.start(); // the list now fills again on this thread
    });
    QObject::connect(&list, &ProcDataList::isFixingChanged, &list, [&](bool fixing) {
        if (!fixing)
            QTimer::singleShot(0, &done, &QEventLoop::quit);
    });
    fixWaitMs = runQueueWaitMs();
    meter.start();
    fixClock.start();
    list.qmlStartFix();
    const double startCallMs = double(fixClock.nsecsElapsed()) / 1e6;
    QTimer::singleShot(60000, &done, &QEventLoop::quit);
    done.exec();
    const double refillMs = double(refillClock.nsecsElapsed()) / 1e6;

    // The same loop for as long as the fix took, without one.
    double idleWaitMs = runQueueWaitMs();
    meter.start();
    runLoopFor(std::max<qint64>(1, fixNs / 1000000));
    const double idleStallMs = meter.stopMs();
    idleWaitMs = runQueueWaitMs() - idleWaitMs;

    for (pid_t p : children) {
        ::kill(p, SIGKILL);
        ::waitpid(p, nullptr, 0);
    }
    std::printf("processes ticked: %d\n", kProcesses);
    std::printf("units ticked: %d\n", kUnits);
    std::printf("entries closed: %u\n", closed);
    std::printf("fix, qmlStartFix to result (ms): %.1f\n", double(fixNs) / 1e6);
    std::printf("GUI thread inside qmlStartFix (ms): %.3f\n", startCallMs);
    std::printf("list filled again on the GUI thread after the result (ms): %.1f\n", refillMs);
    std::printf("GUI thread waiting for a CPU without a fix (ms): %.2f\n", idleWaitMs);
    std::printf("GUI thread waiting for a CPU during the fix (ms): %.2f\n", fixWaitMs);
    std::printf("GUI loop worst 1 ms timer gap without a fix (ms): %.2f\n", idleStallMs);
    std::printf("GUI loop worst 1 ms timer gap during the fix (ms): %.2f\n", fixStallMs);
    return closed == kProcesses + kUnits ? 0 : 1;
}

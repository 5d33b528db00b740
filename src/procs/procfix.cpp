// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procfix.h"

#include "core/logging.h"
#include "procs/procids.h"

#include <boost/thread/thread.hpp>

#include <QString>

#include <algorithm>
#include <chrono>
#include <thread>

namespace vb::procs {

using vb::platform::ServiceInfo;
using vb::platform::SvcStopped;

bool terminateProcessById(vb::platform::IProcesses& processes, vb::platform::ProcessId pid,
                          quint64 startTime)
{
    return processes.terminate(pid, startTime, kTerminateWaitMs);
}

bool stopService(ServiceManagerHandle& handle, const std::string& name, uint32_t timeoutMs)
{
    if (!handle.manager) {
        if (!handle.services)
            return false;
        handle.manager = handle.services->openManager();
        if (!handle.manager)
            return false;
    }
    vb::platform::IServiceManager& manager = *handle.manager;
    handle.stopping.push_back(name);
    struct Done
    {
        std::vector<std::string>& chain;
        ~Done() { chain.pop_back(); }
    } done{handle.stopping};
    ServiceInfo status;
    if (manager.queryService(name, status) != vb::platform::ErrSuccess)
        return false;
    if (status.state == SvcStopped)
        return true; // closed already: no request, its dependents untouched
    // A dependent that will not stop does not keep the service itself from being asked.
    stopDependentServices(handle, name, timeoutMs);
    if (const uint32_t e = manager.sendStop(name, status)) {
        qCDebug(lcProcs) << "fix: the stop of" << QString::fromStdString(name)
                         << "was refused, error" << e;
        return false;
    }
    if (status.state == SvcStopped)
        return true;
    // From the manager's taking the request on: the time a person spent answering polkit's
    // agent is no time the service took to stop.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed >= timeoutMs) {
            qCDebug(lcProcs) << "fix:" << QString::fromStdString(name) << "did not stop within"
                             << timeoutMs << "ms";
            return false;
        }
        if (manager.waitForStop(name, timeoutMs - static_cast<uint32_t>(elapsed), status) !=
            vb::platform::ErrSuccess)
            return false;
        if (status.state == SvcStopped)
            return true;
    }
}

bool stopDependentServices(ServiceManagerHandle& handle, const std::string& name,
                           uint32_t timeoutMs)
{
    if (!handle.manager)
        return false;
    std::vector<ServiceInfo> dependents;
    if (!handle.manager->activeDependents(name, dependents))
        return false;
    for (const ServiceInfo& d : dependents) {
        // One whose stop is under way further up the chain stops there.
        if (std::find(handle.stopping.begin(), handle.stopping.end(), d.keyName) !=
            handle.stopping.end())
            continue;
        if (!stopService(handle, d.keyName, timeoutMs))
            return false; // the later dependents are not tried
    }
    return true;
}

namespace {

// Empties the working set of every process the backends may touch; what those processes
// gave up, measured on them (the machine's free memory drifts by megabytes meanwhile).
quint64 releaseMemory(const vb::platform::Platform& backends)
{
    const auto& memory = backends.memory;
    if (memory)
        memory->sleepMs(kReleasePauseMs);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(kReleasePauseMs));
    const auto& sets = backends.workingSets;
    if (!sets)
        return 0;
    std::vector<vb::platform::ProcessId> ids;
    enumProcessIds(backends.processes, [&ids](vb::platform::ProcessId pid) {
        ids.push_back(pid);
        return true;
    });
    const vb::platform::EmptiedSet r = sets->emptyWorkingSets(ids);
    if (!r.notReached.empty())
        qCWarning(lcProcs).noquote()
            << "fix: memory release did not reach" << QString::fromStdString(r.notReached);
    return r.releasedBytes;
}

} // namespace

FixResult runFix(QList<ProcListItem>& rows, bool releaseMemory,
                 const vb::platform::Platform& backends)
{
    FixResult result;
    ServiceManagerHandle services{backends.services, nullptr, {}};
    for (ProcListItem& row : rows) {
        if (!row.select)
            continue;
        bool closed = false;
        if (row.isService)
            closed = stopService(services, QString::fromStdWString(row.serviceName).toStdString(),
                                 kServiceStopMs);
        else
            closed = backends.processes &&
                     terminateProcessById(*backends.processes, row.pid, row.startTime);
        if (!closed)
            continue;
        ++result.count;
        row.fixed = true;
        result.bytes += row.memory;
    }
    if (releaseMemory) {
        ProcListItem released;
        released.kind = PK_MemoryRelease;
        released.memory = vb::procs::releaseMemory(backends);
        released.fixed = true;
        rows.append(released);
        ++result.count;
        result.bytes += released.memory;
    }
    services.manager.reset(); // the fix's connection closes with it
    return result;
}

std::shared_ptr<FixEventNotifyer> makeFixEventNotifyer()
{
    return std::shared_ptr<FixEventNotifyer>(new FixEventNotifyer,
                                             [](FixEventNotifyer* n) { n->deleteLater(); });
}

void startFixWorker(ProcListItems_ptr rows, std::shared_ptr<FixEventNotifyer> notifier,
                    bool releaseMemory, vb::platform::Platform backends)
{
    boost::thread worker([rows = std::move(rows), notifier = std::move(notifier), releaseMemory,
                          backends = std::move(backends)]() mutable {
        // Its own rows: the snapshot it was handed stays as it was.
        QList<ProcListItem> own = *rows;
        rows.reset();
        const FixResult r = runFix(own, releaseMemory, backends);
        rows = std::make_shared<const QList<ProcListItem>>(std::move(own));
        Q_EMIT notifier->FixOver(rows, r.count, r.bytes);
        // The worker's references go here, after the emission, as the thread ends.
        notifier.reset();
        rows.reset();
    });
    worker.detach();
}

} // namespace vb::procs

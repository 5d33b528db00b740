// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procfix.h"

#include "core/logging.h"
#include "procs/procids.h"

#include <boost/thread/thread.hpp>

#include <QString>

#include <chrono>
#include <thread>

namespace vb::procs {

bool terminateProcessById(vb::platform::IProcesses& processes, vb::platform::ProcessId pid,
                          quint64 startTime)
{
    return processes.terminate(pid, startTime, kTerminateWaitMs);
}

namespace {

// The service stop's reasons for a service it could not stop, as the fix's other lines.
void logServiceStop(const std::string& text)
{
    qCDebug(lcProcs).noquote() << QString::fromStdString(text);
}

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
    ServiceManagerHandle services(backends.services, &logServiceStop);
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

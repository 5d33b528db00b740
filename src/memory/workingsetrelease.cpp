// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory/workingsetrelease.h"

#include "core/logging.h"
#include "memory/emptingmemorysetnotifyer.h"
#include "procs/procids.h"

#include <boost/thread/thread.hpp>

#include <thread>

quint64 emptyAllWorkingSets(const std::shared_ptr<vb::platform::IProcesses>& processes,
                            const std::shared_ptr<vb::platform::IWorkingSets>& sets)
{
    if (!sets)
        return 0;
    std::vector<vb::platform::ProcessId> ids;
    enumProcessIds(processes, [&ids](vb::platform::ProcessId pid) {
        ids.push_back(pid);
        return true;
    });
    const vb::platform::EmptiedSet r = sets->emptyWorkingSets(ids);
    qCDebug(lcMemory) << "memory release:" << r.processesEmptied << "of" << ids.size()
                      << "processes emptied," << r.releasedBytes << "bytes paged out";
    if (!r.notReached.empty())
        qCWarning(lcMemory).noquote()
            << "memory release: not reached:" << QString::fromStdString(r.notReached);
    return r.releasedBytes;
}

namespace vb::memory {

quint64 releaseMemory(platform::ISystemMemory& clock, const std::function<quint64()>& emptyAll)
{
    const uint32_t start = clock.tickCountMs();
    const quint64 gain = emptyAll ? emptyAll() : 0;
    // Unsigned 32-bit difference: a wrap of the tick counter still gives the true duration.
    const uint32_t elapsed = clock.tickCountMs() - start;
    if (elapsed < kMinimumReleaseMs)
        clock.sleepMs(kMinimumReleaseMs - elapsed);
    return gain;
}

void runEmptingMemorySet(std::shared_ptr<EmptingMemorySetNotifyer> notifier,
                         const ReleaseBackends& backends)
{
    quint64 gain = 0;
    const auto emptyAll = [&backends] {
        return emptyAllWorkingSets(backends.processes, backends.workingSets);
    };
    if (backends.memory) {
        gain = releaseMemory(*backends.memory, emptyAll);
    } else {
        gain = emptyAll();
        std::this_thread::sleep_for(std::chrono::milliseconds(kMinimumReleaseMs));
    }
    if (notifier)
        Q_EMIT notifier->finished(gain);
    // The last reference goes here, after the emission, as the thread ends.
}

bool startEmptingMemorySet(std::shared_ptr<EmptingMemorySetNotifyer> notifier,
                           ReleaseBackends backends)
{
    try {
        boost::thread worker([n = std::move(notifier), b = std::move(backends)]() mutable {
            runEmptingMemorySet(std::move(n), b);
        });
        worker.detach();
        return true;
    } catch (const boost::thread_resource_error& e) {
        qCWarning(lcMemory) << "memory release: no thread could be started:" << e.what();
        return false;
    }
}

} // namespace vb::memory

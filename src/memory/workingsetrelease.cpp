// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory/workingsetrelease.h"

#include "core/logging.h"
#include "memory/emptingmemorysetnotifyer.h"
#include "procs/procids.h"

#include <boost/thread/thread.hpp>

#include <thread>

void emptyAllWorkingSets(const std::shared_ptr<vb::platform::IProcesses>& processes,
                         const std::shared_ptr<vb::platform::IWorkingSets>& sets)
{
    if (!sets)
        return;
    enumProcessIds(processes, [&sets](vb::platform::ProcessId pid) {
        sets->emptyWorkingSet(pid); // a process that may not be touched is simply skipped
        return true;
    });
}

namespace vb::memory {

quint64 releaseMemory(platform::ISystemMemory& memory, const std::function<void()>& emptyAll)
{
    const uint32_t start = memory.tickCountMs();
    platform::MemoryStatus before;
    const bool haveBefore = memory.memoryStatus(before);
    if (emptyAll)
        emptyAll();
    platform::MemoryStatus after;
    const bool haveAfter = memory.memoryStatus(after);
    // Unsigned 32-bit difference: a wrap of the tick counter still gives the true duration.
    const uint32_t elapsed = memory.tickCountMs() - start;
    if (elapsed < kMinimumReleaseMs)
        memory.sleepMs(kMinimumReleaseMs - elapsed);
    // A snapshot that failed reads as zero; taking its difference would report all of memory
    // (or nothing) as freed, so without both figures there is no gain to tell.
    if (!haveBefore || !haveAfter) {
        qCWarning(lcMemory) << "memory release: the memory figures could not be read";
        return 0;
    }
    if (after.freePhysBytes <= before.freePhysBytes)
        return 0;
    return after.freePhysBytes - before.freePhysBytes;
}

void runEmptingMemorySet(std::shared_ptr<EmptingMemorySetNotifyer> notifier,
                         const ReleaseBackends& backends)
{
    quint64 gain = 0;
    const auto emptyAll = [&backends] {
        emptyAllWorkingSets(backends.processes, backends.workingSets);
    };
    if (backends.memory) {
        gain = releaseMemory(*backends.memory, emptyAll);
    } else {
        emptyAll();
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

// SPDX-License-Identifier: GPL-3.0-or-later
// Emptying every process's working set, and the release thread that measures what it gained.
#pragma once

#include "platform/memory.h"
#include "platform/platform.h"
#include "platform/processes.h"

#include <QtGlobal>

#include <functional>
#include <memory>

class EmptingMemorySetNotifyer;

// Empties the working set of every process that may be touched (this one included); the
// others are skipped, and what was not reached is said in one line. Keeps no state, so a
// release and a fix may run it at once. What the emptied processes gave up, in bytes.
quint64 emptyAllWorkingSets(const std::shared_ptr<vb::platform::IProcesses>& processes,
                            const std::shared_ptr<vb::platform::IWorkingSets>& workingSets);

namespace vb::memory {

// A release never ends sooner: the ball's release animation runs this long.
constexpr uint32_t kMinimumReleaseMs = 3000;

// One release on the given clock: emptyAll, then sleep until kMinimumReleaseMs have passed
// since the start. The gain is what emptyAll measured on the processes it emptied; the
// machine's free memory is not asked, as other programs move it by megabytes a second.
quint64 releaseMemory(platform::ISystemMemory& clock, const std::function<quint64()>& emptyAll);

// What one release reads and empties.
struct ReleaseBackends
{
    std::shared_ptr<platform::ISystemMemory> memory;
    std::shared_ptr<platform::IProcesses> processes;
    std::shared_ptr<platform::IWorkingSets> workingSets;

    static ReleaseBackends of(const platform::Platform& backends)
    {
        return {backends.memory, backends.processes, backends.workingSets};
    }
};

// The release thread's body on the given backends; emits notifier->finished exactly once.
void runEmptingMemorySet(std::shared_ptr<EmptingMemorySetNotifyer> notifier,
                         const ReleaseBackends& backends);

// Starts the release thread, detached, holding its own references to the notifier and the
// backends. False when no thread could be made (finished will then never come).
bool startEmptingMemorySet(std::shared_ptr<EmptingMemorySetNotifyer> notifier,
                           ReleaseBackends backends);

} // namespace vb::memory

// SPDX-License-Identifier: GPL-3.0-or-later
// System memory figures, CPU times and the emptying of a process's working set.
#pragma once

#include "platform/types.h"

namespace vb::platform {

struct MemoryStatus
{
    uint32_t memoryLoad = 0; // percent in use, 0..100
    uint64_t totalPhysBytes = 0;
    // Memory that programs can have without the system swapping (what the load is made of).
    uint64_t availPhysBytes = 0;
    // Memory that holds nothing at all: the figure that rises when working sets are emptied.
    // Where the system counts its file cache as available (Linux), emptying a working set
    // only turns cached pages into free ones and availPhysBytes hardly moves; where it does
    // not (Windows' standby list is available), this equals availPhysBytes.
    uint64_t freePhysBytes = 0;
};

// Cumulative CPU times in 100-nanosecond units; kernel includes idle, as on Windows.
struct SystemTimes
{
    uint64_t idle = 0;
    uint64_t kernel = 0;
    uint64_t user = 0;
};

class ISystemMemory
{
public:
    virtual ~ISystemMemory() = default;
    virtual bool memoryStatus(MemoryStatus& out) = 0;
    // The load, total and available figures only, for callers that show the load every
    // second: freePhysBytes may leave out what is costly to gather (never more than
    // memoryStatus gives). The whole status unless a backend has a cheaper way.
    virtual bool memoryLoadStatus(MemoryStatus& out) { return memoryStatus(out); }
    virtual bool systemTimes(SystemTimes& out) = 0;
    // Millisecond tick counter that wraps at 2^32, like GetTickCount.
    virtual uint32_t tickCountMs() = 0;
    // Blocks the calling thread for ms milliseconds of the same clock as tickCountMs.
    virtual void sleepMs(uint32_t ms) = 0;
};

// What emptying one process did, measured on that process: its resident pages before and
// after, so that memory other programs take or give back meanwhile never counts.
struct EmptiedProcess
{
    bool reached = false;       // the process could be advised at all
    uint64_t releasedBytes = 0; // its pages that left memory
    explicit operator bool() const { return reached; }
};

// What emptying a set of processes did, summed.
struct EmptiedSet
{
    uint64_t releasedBytes = 0;
    uint32_t processesEmptied = 0;
    // One line on what could not be reached (empty when nothing was left out).
    std::string notReached;
};

class IWorkingSets
{
public:
    virtual ~IWorkingSets() = default;
    // Asks the system to move as many of the process's pages out of memory as it can.
    // Not reached when the process cannot be opened for that.
    virtual EmptiedProcess emptyWorkingSet(ProcessId pid) = 0;
    // Every process of ids that may be touched, each once. A backend with other ways to
    // reach processes (a privileged helper, a control group's own reclaim) overrides this.
    virtual EmptiedSet emptyWorkingSets(const std::vector<ProcessId>& ids)
    {
        EmptiedSet all;
        for (const ProcessId pid : ids) {
            const EmptiedProcess one = emptyWorkingSet(pid);
            if (!one.reached)
                continue; // one that may not be touched is simply skipped
            ++all.processesEmptied;
            all.releasedBytes += one.releasedBytes;
        }
        return all;
    }
};

} // namespace vb::platform

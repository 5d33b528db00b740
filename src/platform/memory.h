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
    virtual bool systemTimes(SystemTimes& out) = 0;
    // Millisecond tick counter that wraps at 2^32, like GetTickCount.
    virtual uint32_t tickCountMs() = 0;
    // Blocks the calling thread for ms milliseconds of the same clock as tickCountMs.
    virtual void sleepMs(uint32_t ms) = 0;
};

class IWorkingSets
{
public:
    virtual ~IWorkingSets() = default;
    // Asks the system to move as many of the process's pages out of memory as it can.
    // Returns false when the process cannot be opened for that.
    virtual bool emptyWorkingSet(ProcessId pid) = 0;
};

} // namespace vb::platform

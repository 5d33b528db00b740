// SPDX-License-Identifier: GPL-3.0-or-later
// System memory figures, CPU times and the emptying of a process's working set.
#pragma once

#include "platform/types.h"

namespace vb::platform {

struct MemoryStatus
{
    uint32_t memoryLoad = 0; // percent in use, 0..100
    uint64_t totalPhysBytes = 0;
    uint64_t availPhysBytes = 0;
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

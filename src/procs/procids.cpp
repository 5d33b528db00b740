// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procids.h"

#include <vector>

bool enumProcessIds(const std::shared_ptr<vb::platform::IProcesses>& procs,
                    const std::function<bool(vb::platform::ProcessId)>& cb)
{
    if (!procs)
        return false;
    // Start with room for 4096 ids; a completely filled buffer may have been too small, so
    // ask again with twice the room until the answer leaves some of it unused.
    uint32_t capacity = 4096;
    std::vector<vb::platform::ProcessId> ids(capacity);
    uint32_t bytes = 0;
    if (!procs->enumProcesses(ids.data(), capacity * sizeof(vb::platform::ProcessId), bytes))
        return false;
    while (bytes == capacity * sizeof(vb::platform::ProcessId)) {
        if (capacity > (1u << 24))
            break; // 16 million processes: the system is lying, not full
        capacity *= 2;
        std::vector<vb::platform::ProcessId>(capacity).swap(ids);
        if (!procs->enumProcesses(ids.data(), capacity * sizeof(vb::platform::ProcessId), bytes))
            return false;
    }
    const size_t n = bytes / sizeof(vb::platform::ProcessId);
    for (size_t i = 0; i < n; ++i)
        if (ids[i] != 0 && !cb(ids[i]))
            break;
    return true;
}

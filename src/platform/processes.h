// SPDX-License-Identifier: GPL-3.0-or-later
// Running processes: their ids, images and resident memory.
#pragma once

#include "platform/types.h"

#include <optional>

namespace vb::platform {

class IProcesses
{
public:
    virtual ~IProcesses() = default;
    // Fills ids with the ids of all running processes. Returns false when they cannot be read.
    virtual bool processIds(std::vector<ProcessId>& ids) = 0;
    // Full path of the process's image, empty when it cannot be opened.
    virtual std::string imagePath(ProcessId pid) = 0;
    // Resident memory (the working set) in bytes; nullopt when the process cannot be opened.
    virtual std::optional<uint64_t> workingSetBytes(ProcessId pid) = 0;
    // Whether this process may query the other (open it for reading its details).
    virtual bool canOpen(ProcessId pid) = 0;
    // Ends the process; false when it may not or could not be ended.
    virtual bool terminate(ProcessId pid) = 0;
    // The process id of this very process.
    virtual ProcessId currentProcessId() = 0;
};

} // namespace vb::platform

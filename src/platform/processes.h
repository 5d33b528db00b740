// SPDX-License-Identifier: GPL-3.0-or-later
// Running processes: their ids, images and resident memory.
#pragma once

#include "platform/types.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace vb::platform {

// Moves whenever a process comes or goes: created follows every new task id, ended every
// exit of a process that was listed.
struct TaskStamp
{
    uint64_t created = 0;
    uint64_t ended = 0;
    bool operator==(const TaskStamp& o) const { return created == o.created && ended == o.ended; }
};

// What a pass over the running processes reads of one of them.
struct ProcessRecord
{
    uint32_t access = ErrInvalidParameter; // 0, or the Windows error number of the failed open
    uint64_t startTime = 0;                // 0 when it cannot be read
    std::optional<uint64_t> workingSetBytes;
    std::string imagePath; // empty when it cannot be read
};

class IProcesses
{
public:
    virtual ~IProcesses() = default;
    // Fills ids with the ids of all running processes. Returns false when they cannot be read.
    virtual bool processIds(std::vector<ProcessId>& ids) = 0;
    // Writes as many ids as fit into capacityBytes bytes at ids (4 bytes each) and the bytes
    // written into bytesReturned, as EnumProcesses does: a full buffer may mean it was too
    // small. False when the ids cannot be read.
    virtual bool enumProcesses(ProcessId* ids, uint32_t capacityBytes, uint32_t& bytesReturned)
    {
        std::vector<ProcessId> all;
        if (!processIds(all))
            return false;
        const size_t fit = std::min<size_t>(all.size(), capacityBytes / sizeof(ProcessId));
        std::copy(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(fit), ids);
        bytesReturned = static_cast<uint32_t>(fit * sizeof(ProcessId));
        return true;
    }
    // Full path of the process's image, empty when it cannot be opened.
    virtual std::string imagePath(ProcessId pid) = 0;
    // Resident memory (the working set) in bytes; nullopt when the process cannot be opened.
    virtual std::optional<uint64_t> workingSetBytes(ProcessId pid) = 0;
    // Whether this process may open the other for reading its details: 0, or the Windows error
    // number of the failed open (5 no access, 87 no such process).
    virtual uint32_t queryAccess(ProcessId pid) = 0;
    bool canOpen(ProcessId pid) { return queryAccess(pid) == ErrSuccess; }
    // When the process started, in the system's own units: with the id it names one process,
    // since ids are handed out again. 0 when the process cannot be read.
    virtual uint64_t startTime(ProcessId pid) = 0;
    // Ends the process, asking it to close first so that it may save its state, and forcing
    // it once it has not ended within waitMs. startTime (when not 0) must still match: an id
    // that another process has taken since is left alone. True only when the process ended.
    virtual bool terminate(ProcessId pid, uint64_t startTime, uint32_t waitMs) = 0;
    // The process id of this very process.
    virtual ProcessId currentProcessId() = 0;

    // Everything a pass asks of one process, in the order it asks: access, start time, working
    // set, image; once the access or the working set fails, the later fields stay empty. A
    // backend may read each of the process's files once for all of it, and keep what cannot
    // change while the process lives.
    virtual ProcessRecord record(ProcessId pid)
    {
        ProcessRecord r;
        r.access = queryAccess(pid);
        if (r.access != ErrSuccess)
            return r;
        r.startTime = startTime(pid);
        r.workingSetBytes = workingSetBytes(pid);
        if (r.workingSetBytes)
            r.imagePath = imagePath(pid);
        return r;
    }
    // A pass ended: whatever a backend keeps of processes it was not asked about since the
    // previous pass ended (the gone ones among them) goes.
    virtual void passEnded() {}
    // A stamp that moves whenever a process starts or one of those last listed by processIds()
    // ends: while it stands still, the set of ids cannot have changed. nullopt when the backend
    // has none (or no listing yet); then only reading the ids tells.
    virtual std::optional<TaskStamp> taskStamp() { return std::nullopt; }
};

} // namespace vb::platform

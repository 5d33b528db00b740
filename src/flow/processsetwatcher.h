// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the sampling worker when the set of running process ids changed, so the boost lists
// know to enumerate again.
#pragma once

#include "platform/memory.h"
#include "procs/procids.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class ProcessSetWatcher
{
public:
    using Enumerate = std::function<bool(const std::function<bool(vb::platform::ProcessId)>&)>;
    using Tick = std::function<uint32_t()>;
    using Stamp = std::function<std::optional<vb::platform::TaskStamp>()>;
    // When the ids cannot be read, report a change at most this often.
    static constexpr uint32_t kFallbackIntervalMs = 10000;
    // Even while the stamp stands still the ids are read again this often: whatever a stamp
    // might miss (a sandbox that hides reapings from it) stays wrong no longer than this. One
    // reading costs as much as some forty cycles that only look at the stamp.
    static constexpr uint32_t kStampTrustMs = 30000;

    // An empty enumerate reads no ids; an empty tick means a steady clock of this process. With
    // a stamp, the ids are read again only when it moved since the last good reading.
    explicit ProcessSetWatcher(Enumerate enumerate, Tick tick = {}, Stamp stamp = {});

    // Sets the time stamp the fallback interval counts from.
    void start();
    // Whether the ids differ from those of the previous call.
    bool changed();

    // The ids of the last good reading, ascending, each once.
    const std::vector<uint32_t>& ids() const { return m_ids; }

private:
    Enumerate m_enumerate;
    Tick m_tick;
    Stamp m_stamp;
    // Taken before the last good reading of the ids; nullopt when there is none to trust.
    std::optional<vb::platform::TaskStamp> m_readAt;
    uint32_t m_readMs = 0;
    // Sorted vectors, the reading swapped with the last one: a cycle over hundreds of
    // processes allocates nothing once they have their room.
    std::vector<uint32_t> m_ids;
    std::vector<uint32_t> m_reading;
    uint32_t m_stampMs = 0;
};

// The given backend's millisecond tick counter (wraps at 2^32); a steady clock without one.
uint32_t tickCountMs(const std::shared_ptr<vb::platform::ISystemMemory>& memory);
// enumProcessIds on the given backend, in the shape the watcher takes.
ProcessSetWatcher::Enumerate processIdsOf(std::shared_ptr<vb::platform::IProcesses> processes);
// The given backend's task stamp, in the shape the watcher takes.
ProcessSetWatcher::Stamp taskStampOf(std::shared_ptr<vb::platform::IProcesses> processes);

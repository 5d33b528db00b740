// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/processsetwatcher.h"

#include <algorithm>
#include <chrono>

uint32_t tickCountMs(const std::shared_ptr<vb::platform::ISystemMemory>& memory)
{
    if (memory)
        return memory->tickCountMs();
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

ProcessSetWatcher::Enumerate processIdsOf(std::shared_ptr<vb::platform::IProcesses> processes)
{
    return
        [processes = std::move(processes)](const std::function<bool(vb::platform::ProcessId)>& cb) {
            return enumProcessIds(processes, cb);
        };
}

ProcessSetWatcher::Stamp taskStampOf(std::shared_ptr<vb::platform::IProcesses> processes)
{
    return [processes = std::move(processes)]() -> std::optional<vb::platform::TaskStamp> {
        return processes ? processes->taskStamp() : std::nullopt;
    };
}

ProcessSetWatcher::ProcessSetWatcher(Enumerate enumerate, Tick tick, Stamp stamp)
    : m_enumerate(std::move(enumerate)),
      m_tick(tick ? std::move(tick) : Tick([] { return tickCountMs(nullptr); })),
      m_stamp(std::move(stamp))
{}

void ProcessSetWatcher::start()
{
    m_stampMs = m_tick();
}

bool ProcessSetWatcher::changed()
{
    // Taken before the ids: a process that comes or goes while they are read moves the stamp
    // again, and the next call reads them anew.
    const std::optional<vb::platform::TaskStamp> stamp =
        m_stamp ? m_stamp() : std::optional<vb::platform::TaskStamp>();
    const uint32_t nowMs = m_tick();
    if (stamp && m_readAt && *stamp == *m_readAt && nowMs - m_readMs < kStampTrustMs)
        return false;
    m_readAt.reset();
    m_reading.clear();
    const bool ok = m_enumerate && m_enumerate([this](vb::platform::ProcessId id) {
                        m_reading.push_back(id);
                        return true;
                    });
    if (!ok) {
        // Without ids, tell the lists to look again now and then rather than never. The stamp
        // moves only when that happens: moving it at every failed call would keep the
        // elapsed time at one cycle, and the lists would never hear of a change.
        if (nowMs - m_stampMs <= kFallbackIntervalMs)
            return false;
        m_stampMs = nowMs;
        return true;
    }
    // Any id that came or went is a change, whatever order the system lists them in.
    std::sort(m_reading.begin(), m_reading.end());
    m_reading.erase(std::unique(m_reading.begin(), m_reading.end()), m_reading.end());
    const bool change = m_reading != m_ids;
    m_ids.swap(m_reading);
    m_readAt = stamp;
    m_readMs = nowMs;
    return change;
}

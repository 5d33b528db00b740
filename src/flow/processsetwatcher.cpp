// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/processsetwatcher.h"

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

ProcessSetWatcher::ProcessSetWatcher(Enumerate enumerate, Tick tick)
    : m_enumerate(std::move(enumerate)),
      m_tick(tick ? std::move(tick) : Tick([] { return tickCountMs(nullptr); }))
{}

void ProcessSetWatcher::start()
{
    m_stampMs = m_tick();
}

bool ProcessSetWatcher::changed()
{
    std::set<uint32_t> now;
    bool change = false;
    const bool ok = m_enumerate && m_enumerate([&](vb::platform::ProcessId id) {
                        if (!change && m_ids.count(id) == 0)
                            change = true;
                        now.insert(id);
                        return true;
                    });
    if (!ok) {
        // Without ids, tell the lists to look again now and then rather than never. The stamp
        // moves only when that happens: moving it at every failed call would keep the
        // elapsed time at one cycle, and the lists would never hear of a change.
        const uint32_t nowMs = m_tick();
        if (nowMs - m_stampMs <= kFallbackIntervalMs)
            return false;
        m_stampMs = nowMs;
        return true;
    }
    if (!change) {
        for (uint32_t id : m_ids) {
            if (now.count(id) == 0) {
                change = true;
                break;
            }
        }
    }
    m_ids.swap(now);
    return change;
}

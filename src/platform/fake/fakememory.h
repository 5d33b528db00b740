// SPDX-License-Identifier: GPL-3.0-or-later
// Scriptable memory figures, a clock that only moves when told (sleeping moves it), and
// working sets that record which processes were emptied. Safe to use from a worker thread.
#pragma once

#include "platform/memory.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>

namespace vb::platform::fake {

class FakeSystemMemory : public ISystemMemory
{
public:
    // Each memoryStatus() call takes the next scripted reading (the last one repeats); a
    // reading with ok false makes that call fail. Nothing scripted: every call fails.
    struct Reading
    {
        bool ok = true;
        MemoryStatus status;
    };

    void script(std::deque<Reading> readings)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_readings = std::move(readings);
    }
    void setTimes(const SystemTimes& t)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_times = t;
    }
    void setTick(uint32_t t)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_tick = t;
    }
    void advance(uint32_t ms)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_tick += ms; // wraps like the real counter
    }
    std::vector<uint32_t> sleeps() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_sleeps;
    }
    int statusCalls() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_statusCalls;
    }

    bool memoryStatus(MemoryStatus& out) override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        ++m_statusCalls;
        out = MemoryStatus{};
        if (m_readings.empty())
            return false;
        const Reading r = m_readings.front();
        if (m_readings.size() > 1)
            m_readings.pop_front();
        if (r.ok)
            out = r.status;
        return r.ok;
    }
    bool systemTimes(SystemTimes& out) override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        out = m_times;
        return true;
    }
    uint32_t tickCountMs() override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_tick;
    }
    void sleepMs(uint32_t ms) override
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_sleeps.push_back(ms);
        m_tick += ms;
    }

private:
    mutable std::mutex m_mutex;
    std::deque<Reading> m_readings;
    SystemTimes m_times;
    uint32_t m_tick = 0;
    std::vector<uint32_t> m_sleeps;
    int m_statusCalls = 0;
};

class FakeWorkingSets : public IWorkingSets
{
public:
    std::set<ProcessId> denied;             // these cannot be opened
    std::map<ProcessId, uint64_t> released; // what each emptied process gives up (else 0)
    std::function<void(ProcessId)> onEmpty; // runs for each process that is emptied

    EmptiedProcess emptyWorkingSet(ProcessId pid) override
    {
        std::function<void(ProcessId)> hook;
        EmptiedProcess r;
        {
            std::lock_guard<std::mutex> l(m_mutex);
            m_tried.push_back(pid);
            if (denied.count(pid))
                return r;
            m_emptied.push_back(pid);
            hook = onEmpty;
            r.reached = true;
            const auto it = released.find(pid);
            r.releasedBytes = it == released.end() ? 0 : it->second;
        }
        if (hook)
            hook(pid);
        return r;
    }
    std::vector<ProcessId> tried() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_tried;
    }
    std::vector<ProcessId> emptied() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_emptied;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ProcessId> m_tried;
    std::vector<ProcessId> m_emptied;
};

} // namespace vb::platform::fake

// SPDX-License-Identifier: GPL-3.0-or-later
// Memory load and CPU usage, one record per call, measured over the interval since the
// previous call; and the performance grade the Game page shows.
#pragma once

#include "core/totalmemorycpuflowinfo.h"
#include "platform/memory.h"

#include <memory>

class SystemUsageSampler
{
public:
    // Reads the given figures; without a source every figure stays zero.
    explicit SystemUsageSampler(std::shared_ptr<vb::platform::ISystemMemory> source);

    // Takes the current system times as the start of the first interval.
    void prime();
    // A new record with memory load, available memory and CPU usage filled, the rest zero;
    // empty only when it cannot be allocated.
    TotalMemoryCpuFlowInfo_ptr sample();

    // CPU usage in percent (0..100) over the interval between two readings of the system
    // times. 0 when it cannot be computed: no time passed, or a counter went backwards.
    static quint32 cpuUsageBetween(const vb::platform::SystemTimes& previous,
                                   const vb::platform::SystemTimes& current);
    // 50 without a record; otherwise from CPU, memory load and whole free gibibytes, at most 85.
    static uint performanceGrade(const TotalMemoryCpuFlowInfo* info);

private:
    std::shared_ptr<vb::platform::ISystemMemory> m_source;
    vb::platform::SystemTimes m_previous;
};

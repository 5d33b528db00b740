// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory/systemusagesampler.h"

#include <limits>
#include <new>

SystemUsageSampler::SystemUsageSampler(std::shared_ptr<vb::platform::ISystemMemory> source)
    : m_source(std::move(source))
{}

void SystemUsageSampler::prime()
{
    vb::platform::SystemTimes now;
    if (m_source && m_source->systemTimes(now))
        m_previous = now;
}

TotalMemoryCpuFlowInfo_ptr SystemUsageSampler::sample()
{
    std::shared_ptr<TotalMemoryCpuFlowInfo> info; // shared read-only once returned
    try {
        info = std::make_shared<TotalMemoryCpuFlowInfo>();
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!m_source)
        return info;

    vb::platform::MemoryStatus mem;
    if (m_source->memoryLoadStatus(mem)) {
        info->memoryLoad = mem.memoryLoad;
        info->availPhys = mem.availPhysBytes;
    }

    // A failed reading keeps the older times, so the next figure spans both intervals.
    vb::platform::SystemTimes now;
    if (m_source->systemTimes(now)) {
        info->cpuUsage = cpuUsageBetween(m_previous, now);
        m_previous = now;
    }
    return info;
}

quint32 SystemUsageSampler::cpuUsageBetween(const vb::platform::SystemTimes& previous,
                                            const vb::platform::SystemTimes& current)
{
    // Deltas are taken modulo 2^64 and read as signed: a counter that wrapped still gives
    // its small forward step, one that went backwards (a CPU taken offline, iowait that the
    // kernel corrected) gives a negative step, and that interval cannot be measured.
    const auto delta = [](uint64_t before, uint64_t after) {
        return static_cast<int64_t>(after - before);
    };
    const int64_t idle = delta(previous.idle, current.idle);
    const int64_t kernel = delta(previous.kernel, current.kernel);
    const int64_t user = delta(previous.user, current.user);
    if (idle < 0 || kernel < 0 || user < 0)
        return 0;
    const uint64_t total = uint64_t(kernel) + uint64_t(user);
    if (total == 0 || total > uint64_t(std::numeric_limits<int64_t>::max()))
        return 0;
    // Idle is part of kernel time; more idle than elapsed time means nothing was busy.
    const uint64_t busy = uint64_t(idle) >= total ? 0 : total - uint64_t(idle);
    // busy <= total, so the quotient is at most 100; keep the product from overflowing.
    if (busy <= std::numeric_limits<uint64_t>::max() / 100)
        return quint32(busy * 100 / total);
    return quint32(busy / (total / 100));
}

uint SystemUsageSampler::performanceGrade(const TotalMemoryCpuFlowInfo* info)
{
    if (!info)
        return 50;
    const double freeGiB = double(info->availPhys >> 30);
    int bonus = 0;
    if (freeGiB > 7.6)
        bonus = 20;
    else if (freeGiB > 3.6)
        bonus = 13;
    else if (freeGiB > 1.6)
        bonus = 8;
    // Figures above 100 cannot come from the sampler; keep the terms from going negative.
    const double cpu = info->cpuUsage > 100 ? 100.0 : double(info->cpuUsage);
    const double load = info->memoryLoad > 100 ? 100.0 : double(info->memoryLoad);
    const double sum = 0.15 * (100 - cpu) + 0.4 * (100 - load) + bonus;
    const uint grade = uint(sum);
    return grade > 85 ? 85 : grade;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Memory figures and CPU times from procfs. Reading and parsing are apart: the parsers take
// the files' text, and the root is a parameter, so tests feed captured files.
#pragma once

#include "platform/linux/kernelfile.h"
#include "platform/memory.h"

#include <memory>
#include <optional>

namespace vb::platform::linux_ {

class ProcfsMemory : public ISystemMemory
{
public:
    explicit ProcfsMemory(std::string procRoot = "/proc");
    bool memoryStatus(MemoryStatus& out) override;
    // meminfo alone: free is MemFree without the per-CPU lists (reading zoneinfo takes the
    // kernel's zone locks and costs more than the rest of a sample together).
    bool memoryLoadStatus(MemoryStatus& out) override;
    bool systemTimes(SystemTimes& out) override;
    uint32_t tickCountMs() override;
    void sleepMs(uint32_t ms) override;

    // /proc/meminfo: load = 100 * (MemTotal - MemAvailable) / MemTotal, available =
    // MemAvailable, free = MemFree plus perCpuFreeBytes. False without a usable MemTotal.
    static bool parseMeminfo(const std::string& meminfo, uint64_t perCpuFreeBytes,
                             MemoryStatus& out);
    // The pages waiting in the per-CPU free lists (the "count:" lines of /proc/zoneinfo's
    // pagesets), in bytes. The kernel hands freed pages to these lists first and MemFree
    // leaves them out, so a release's gain would otherwise partly vanish or, when the lists
    // drain meanwhile, appear from nowhere.
    static std::optional<uint64_t> parsePerCpuFreeBytes(const std::string& zoneinfo,
                                                        uint64_t pageBytes);
    // The first ("cpu ") line of /proc/stat, in clock ticks of ticksPerSecond, as
    // 100-nanosecond times: idle = idle + iowait, kernel = system + irq + softirq + idle,
    // user = user + nice (guest time is already part of user; steal belongs to no one here).
    static bool parseStat(const std::string& stat, long ticksPerSecond, SystemTimes& out);

private:
    std::string m_root;
    // The machine's own files, read each second, stay open (for a captured root the files
    // are opened at each reading).
    std::unique_ptr<HeldKernelFile> m_meminfo;
    std::unique_ptr<HeldKernelFile> m_stat;
    // One of the root's files ("/meminfo"): through its held file where there is one.
    std::optional<std::string> readFile(const std::unique_ptr<HeldKernelFile>& held,
                                        const char* name) const;
};

} // namespace vb::platform::linux_

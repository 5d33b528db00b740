// SPDX-License-Identifier: GPL-3.0-or-later
// Processes and their working sets through the process and PSAPI calls.
#pragma once

#include "platform/memory.h"
#include "platform/processes.h"

namespace vb::platform::win32 {

class Win32Processes : public IProcesses
{
public:
    // firstCapacity: how many ids the first EnumProcesses call gets room for; the buffer
    // doubles from there while an answer fills it.
    explicit Win32Processes(uint32_t firstCapacity = 4096);
    bool processIds(std::vector<ProcessId>& ids) override;
    bool enumProcesses(ProcessId* ids, uint32_t capacityBytes, uint32_t& bytesReturned) override;
    // The image in device form (\Device\HarddiskVolumeN\...), which the drive map turns into
    // a drive path.
    std::string imagePath(ProcessId pid) override;
    std::optional<uint64_t> workingSetBytes(ProcessId pid) override;
    uint32_t queryAccess(ProcessId pid) override;
    // The creation time in 100-nanosecond units since 1601.
    uint64_t startTime(ProcessId pid) override;
    // Windows has no request to close a process as such: it is terminated with exit code 1
    // and waited for up to waitMs.
    bool terminate(ProcessId pid, uint64_t startTime, uint32_t waitMs) override;
    ProcessId currentProcessId() override;

private:
    uint32_t m_firstCapacity;
};

class Win32WorkingSets : public IWorkingSets
{
public:
    // Released bytes are the process's own working set before minus after.
    EmptiedProcess emptyWorkingSet(ProcessId pid) override;
};

} // namespace vb::platform::win32

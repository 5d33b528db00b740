// SPDX-License-Identifier: GPL-3.0-or-later
// Processes from procfs. The root is a parameter so tests can point it at a captured tree.
#pragma once

#include "platform/processes.h"

namespace vb::platform::linux_ {

class ProcfsProcesses : public IProcesses
{
public:
    explicit ProcfsProcesses(std::string procRoot = "/proc");
    bool processIds(std::vector<ProcessId>& ids) override;
    std::string imagePath(ProcessId pid) override;
    std::optional<uint64_t> workingSetBytes(ProcessId pid) override;
    uint32_t queryAccess(ProcessId pid) override;
    uint64_t startTime(ProcessId pid) override;
    bool terminate(ProcessId pid, uint64_t startTime, uint32_t waitMs) override;
    ProcessId currentProcessId() override;

    // The VmRSS line of a /proc/<pid>/status text, in bytes; nullopt when absent.
    static std::optional<uint64_t> parseVmRssBytes(const std::string& statusText);
    // The start time (field 22, clock ticks since boot) of a /proc/<pid>/stat text; 0 when
    // the text is not one.
    static uint64_t parseStartTime(const std::string& statText);

private:
    std::string m_root;
};

} // namespace vb::platform::linux_

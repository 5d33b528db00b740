// SPDX-License-Identifier: GPL-3.0-or-later
// The release as the native backend does it. With the right to page out any process (root,
// CAP_SYS_NICE) every process is emptied here. Without it, the filter service is asked to
// empty them all after it has authorised the user; when it cannot or will not, this user's
// own processes are still emptied as far as the kernel allows (their control groups' reclaim,
// then process_madvise on each), and the result says what was not reached.
#pragma once

#include "platform/linux/cgroupreclaim.h"
#include "platform/linux/pidfdworkingsets.h"

#include <functional>
#include <sys/types.h>

namespace vb::platform::linux_ {

// Asks the filter service for a release of every process (it may take as long as the user
// needs to authorise it, bounded by timeoutMs).
class ServiceRelease
{
public:
    struct Answer
    {
        bool done = false;
        uint64_t releasedBytes = 0;
        uint32_t processesEmptied = 0;
        std::string why; // why it was not done
    };
    explicit ServiceRelease(std::string socketDir = "/run/pswfp", int timeoutMs = 40000);
    Answer ask() const;

private:
    std::string m_dir;
    int m_timeoutMs;
};

class ReleaseWorkingSets : public PidfdWorkingSets
{
public:
    struct Ways
    {
        // Whether this process may page out any other (else it asks the service).
        bool mayTouchAll = false;
        uid_t uid = 0;
        std::function<ServiceRelease::Answer()> service;
        std::function<CgroupReclaim::Result()> ownGroups;
    };
    // This process's ways: its capabilities, its user, the service and the user's groups.
    static Ways waysOfThisProcess();

    explicit ReleaseWorkingSets(Ways ways = waysOfThisProcess(), std::string procRoot = "/proc");
    EmptiedSet emptyWorkingSets(const std::vector<ProcessId>& ids) override;

    // CAP_SYS_NICE among the effective capabilities of a /proc/<pid>/status text.
    static bool mayTouchAll(const std::string& status);

private:
    bool ownedByUser(ProcessId pid) const;

    Ways m_ways;
    std::string m_procRoot;
};

} // namespace vb::platform::linux_

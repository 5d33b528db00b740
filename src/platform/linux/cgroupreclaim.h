// SPDX-License-Identifier: GPL-3.0-or-later
// Paging out this user's own processes without privileges: cgroup v2's memory.reclaim in the
// control groups systemd delegates to the user (user@UID.service and what its manager made
// below it). Needs the memory controller on the unified hierarchy; where the kernel keeps it
// on cgroup v1, the reclaim says so and does nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vb::platform::linux_ {

class CgroupReclaim
{
public:
    struct Result
    {
        bool available = false;      // the user's groups have memory.reclaim at all
        unsigned groups = 0;         // groups whose reclaim was written
        uint64_t reclaimedBytes = 0; // the groups' own count of pages reclaimed meanwhile
        std::string why;             // what kept it from running, when it did not
    };

    // mountRoot: where cgroup2 is mounted; group: the user's delegated group below it.
    CgroupReclaim(std::string mountRoot, std::string group, uint64_t pageBytes = 4096);
    // This process's user: the cgroup2 mount from /proc/self/mountinfo, the group from
    // /proc/self/cgroup, else the user's systemd slice.
    static CgroupReclaim forThisUser();

    // Asks every group of the user's to give back all it holds. A group the user may not
    // write (systemd before 254 keeps the top one's reclaim file to itself) hands the request
    // on to its children.
    Result reclaim();

    // The cgroup2 mount point of a mountinfo text; nullopt when there is none.
    static std::optional<std::string> cgroup2Mount(const std::string& mountinfo);
    // The delegated group of uid: the "user@UID.service" ancestor of the unified ("0::") line
    // of a /proc/<pid>/cgroup text, else the one systemd makes in the user's slice.
    static std::string delegatedGroup(const std::string& procCgroup, uid_t uid);
    // The "pgsteal" pages of a memory.stat text.
    static std::optional<uint64_t> parsePgsteal(const std::string& memoryStat);

private:
    bool reclaimIn(const std::string& dir, int depth, Result& r);

    std::string m_root;
    std::string m_group;
    uint64_t m_pageBytes;
};

} // namespace vb::platform::linux_

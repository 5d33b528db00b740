// SPDX-License-Identifier: GPL-3.0-or-later
// Empties a process's resident set: process_madvise(MADV_PAGEOUT) over its mappings through a
// pidfd. The maps are read from procRoot so tests can point the parser at captured text.
#pragma once

#include "platform/memory.h"

namespace vb::platform::linux_ {

class PidfdWorkingSets : public IWorkingSets
{
public:
    struct Mapping
    {
        uint64_t begin = 0;
        uint64_t end = 0;
    };
    struct Outcome
    {
        bool opened = false;  // the process could be reached and advised at all
        unsigned advised = 0; // mappings the kernel accepted
        unsigned failed = 0;  // mappings it refused (gone meanwhile, locked, ...)
        uint64_t advisedBytes = 0;
        // What left the process's memory, from its resident figures before and after.
        uint64_t releasedBytes = 0;
    };
    // The resident figures of /proc/<pid>/status, in bytes.
    struct Resident
    {
        bool ok = false;
        uint64_t anon = 0;
        uint64_t file = 0;
        uint64_t shmem = 0;
        uint64_t swap = 0;
    };

    explicit PidfdWorkingSets(std::string procRoot = "/proc");
    EmptiedProcess emptyWorkingSet(ProcessId pid) override;
    // The same, with what happened, for tests and the benchmark.
    Outcome pageOut(ProcessId pid);

    // The mappings of a /proc/<pid>/maps text worth advising: the kernel's special mappings
    // ([vvar], [vsyscall], ...) are left out because the call fails on them, and so are
    // inaccessible guard areas, which hold no pages.
    static std::vector<Mapping> parseMaps(const std::string& maps);
    static Resident parseStatus(const std::string& status);
    // What the page-out itself moved out: dropped file pages, and anonymous or shared pages
    // only as far as the process's swap grew by them. Memory the process frees on its own
    // meanwhile shrinks its anonymous pages without any swap, and does not count.
    static uint64_t pagedOut(const Resident& before, const Resident& after);
    Resident resident(ProcessId pid) const;

private:
    std::string m_root;
};

} // namespace vb::platform::linux_

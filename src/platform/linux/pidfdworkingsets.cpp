// SPDX-License-Identifier: GPL-3.0-or-later
//
// Why MADV_PAGEOUT through process_madvise: it is the one call that reclaims another
// process's pages at once, which is what emptying a working set means. The alternatives tried
// on our machines fall short: MADV_COLD only ages the pages, /proc/<pid>/clear_refs only
// resets the referenced bits and frees nothing, and a cgroup's memory.force_empty or
// memory.reclaim would need every process moved into a group of its own.
// What to expect from it: clean file-backed pages are dropped; anonymous pages can only go
// to swap, so without swap they stay; pages that another process maps too are left alone.
// The call needs CAP_SYS_NICE for processes other than our own, so an unprivileged user
// empties only its own process, as other users' processes stay closed on Windows.
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/kernelfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#ifndef MADV_PAGEOUT
#define MADV_PAGEOUT 21
#endif

namespace vb::platform::linux_ {

namespace {

constexpr uint64_t kPieceBytes = uint64_t(1) << 30;

bool isSpecialMapping(const std::string& path)
{
    static const char* const kSpecial[] = {"[vvar]", "[vvar_vclock]", "[vdso]", "[vsyscall]",
                                           "[uprobes]"};
    for (const char* s : kSpecial)
        if (path == s)
            return true;
    return false;
}

class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

PidfdWorkingSets::PidfdWorkingSets(std::string procRoot) : m_root(std::move(procRoot)) {}

std::vector<PidfdWorkingSets::Mapping> PidfdWorkingSets::parseMaps(const std::string& maps)
{
    std::vector<Mapping> out;
    std::istringstream in(maps);
    std::string line;
    while (std::getline(in, line)) {
        // begin-end perms offset dev inode [path]
        std::istringstream words(line);
        std::string range, perms, offset, dev, inode, path;
        if (!(words >> range >> perms >> offset >> dev >> inode))
            continue;
        std::getline(words >> std::ws, path);
        const size_t dash = range.find('-');
        if (dash == std::string::npos || dash == 0 || perms.size() < 3)
            continue;
        char* end = nullptr;
        errno = 0;
        const unsigned long long b = std::strtoull(range.c_str(), &end, 16);
        if (errno || end != range.c_str() + dash)
            continue;
        const char* e0 = range.c_str() + dash + 1;
        const unsigned long long e = std::strtoull(e0, &end, 16);
        if (errno || end == e0 || *end != '\0' || e <= b)
            continue;
        if (perms.compare(0, 3, "---") == 0 || isSpecialMapping(path))
            continue;
        out.push_back(Mapping{b, e});
    }
    return out;
}

PidfdWorkingSets::Resident PidfdWorkingSets::parseStatus(const std::string& status)
{
    Resident r;
    std::istringstream in(status);
    std::string line;
    int seen = 0;
    while (std::getline(in, line)) {
        uint64_t* into = nullptr;
        if (line.compare(0, 8, "RssAnon:") == 0)
            into = &r.anon;
        else if (line.compare(0, 8, "RssFile:") == 0)
            into = &r.file;
        else if (line.compare(0, 9, "RssShmem:") == 0)
            into = &r.shmem;
        else if (line.compare(0, 7, "VmSwap:") == 0)
            into = &r.swap;
        if (!into)
            continue;
        const char* p = line.c_str() + line.find(':') + 1;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p < '0' || *p > '9')
            return Resident{};
        char* end = nullptr;
        errno = 0;
        const unsigned long long kb = std::strtoull(p, &end, 10);
        if (errno == ERANGE || kb > (uint64_t(1) << 50))
            return Resident{};
        *into = static_cast<uint64_t>(kb) * 1024;
        ++seen;
    }
    // Kernel threads have none of these lines; all four make a reading.
    r.ok = seen == 4;
    if (!r.ok)
        r = Resident{};
    return r;
}

uint64_t PidfdWorkingSets::pagedOut(const Resident& before, const Resident& after)
{
    if (!before.ok || !after.ok)
        return 0;
    const auto drop = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
    const uint64_t swapped = std::min(drop(before.anon + before.shmem, after.anon + after.shmem),
                                      drop(after.swap, before.swap));
    return drop(before.file, after.file) + swapped;
}

PidfdWorkingSets::Resident PidfdWorkingSets::resident(ProcessId pid) const
{
    const auto status = readWholeFile(m_root + "/" + std::to_string(pid) + "/status");
    return status ? parseStatus(*status) : Resident{};
}

PidfdWorkingSets::Outcome PidfdWorkingSets::pageOut(ProcessId pid)
{
    Outcome r;
    if (pid == 0)
        return r;
    // The pidfd pins the process: should the id be reused while we work, the calls below
    // fail with ESRCH instead of reaching a stranger.
    const Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
    if (pidfd.get() < 0)
        return r;
    const auto maps = readWholeFile(m_root + "/" + std::to_string(pid) + "/maps");
    if (!maps)
        return r;
    const std::vector<Mapping> mappings = parseMaps(*maps);
    if (mappings.empty())
        return r; // a kernel thread, or a process already gone
    const Resident before = resident(pid);
    for (const Mapping& m : mappings) {
        // One call per mapping: a vector call stops at the first mapping the kernel refuses.
        // A call covers at most about 2 GiB (the kernel's limit for one request, beyond which
        // it quietly stops), so larger mappings go in pieces.
        bool accepted = true;
        bool stop = false;
        for (uint64_t at = m.begin; at < m.end && accepted && !stop; at += kPieceBytes) {
            const uint64_t len = std::min<uint64_t>(kPieceBytes, m.end - at);
            iovec iov{reinterpret_cast<void*>(static_cast<uintptr_t>(at)),
                      static_cast<size_t>(len)};
            const long n = ::syscall(SYS_process_madvise, pidfd.get(), &iov, 1, MADV_PAGEOUT, 0u);
            if (n >= 0) {
                r.advisedBytes += static_cast<uint64_t>(n);
                continue;
            }
            accepted = false;
            // Not ours to touch, gone, or a kernel without the call: the rest fails alike.
            stop = errno == EPERM || errno == ESRCH || errno == ENOSYS || errno == EBADF;
        }
        if (stop)
            break;
        if (accepted)
            ++r.advised;
        else
            ++r.failed;
    }
    r.opened = r.advised > 0;
    if (r.opened)
        r.releasedBytes = pagedOut(before, resident(pid));
    return r;
}

EmptiedProcess PidfdWorkingSets::emptyWorkingSet(ProcessId pid)
{
    const Outcome o = pageOut(pid);
    return EmptiedProcess{o.opened, o.releasedBytes};
}

} // namespace vb::platform::linux_

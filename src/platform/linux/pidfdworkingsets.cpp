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

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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
    std::ifstream f(m_root + "/" + std::to_string(pid) + "/maps");
    if (!f)
        return r;
    std::stringstream ss;
    ss << f.rdbuf();
    const std::vector<Mapping> mappings = parseMaps(ss.str());
    if (mappings.empty())
        return r; // a kernel thread, or a process already gone
    for (const Mapping& m : mappings) {
        // One call per mapping: a vector call stops at the first mapping the kernel refuses.
        iovec iov{reinterpret_cast<void*>(static_cast<uintptr_t>(m.begin)),
                  static_cast<size_t>(m.end - m.begin)};
        const long n = ::syscall(SYS_process_madvise, pidfd.get(), &iov, 1, MADV_PAGEOUT, 0u);
        if (n >= 0) {
            ++r.advised;
            r.advisedBytes += static_cast<uint64_t>(n);
            continue;
        }
        if (errno == EPERM || errno == ESRCH || errno == ENOSYS || errno == EBADF) {
            // Not ours to touch, gone, or a kernel without the call: the rest fails alike.
            break;
        }
        ++r.failed;
    }
    r.opened = r.advised > 0;
    return r;
}

bool PidfdWorkingSets::emptyWorkingSet(ProcessId pid)
{
    return pageOut(pid).opened;
}

} // namespace vb::platform::linux_

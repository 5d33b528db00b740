// SPDX-License-Identifier: GPL-3.0-or-later
#include "procscan.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77 // Linux 6.5; older C library headers lack it
#endif

namespace filterd {

namespace {

struct DirCloser
{
    void operator()(DIR* d) const { closedir(d); }
};

bool parsePid(const char* name, uint32_t& pid)
{
    if (!*name)
        return false;
    uint64_t v = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > 0xFFFFFFFFu)
            return false;
    }
    pid = static_cast<uint32_t>(v);
    return pid != 0;
}

std::string procPath(uint32_t pid, const char* leaf)
{
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

} // namespace

std::vector<uint32_t> processIds()
{
    std::vector<uint32_t> out;
    std::unique_ptr<DIR, DirCloser> dir(opendir("/proc"));
    if (!dir)
        return out;
    while (dirent* e = readdir(dir.get())) {
        uint32_t pid = 0;
        if (parsePid(e->d_name, pid))
            out.push_back(pid);
    }
    return out;
}

std::string exePath(uint32_t pid)
{
    char buf[4097];
    const ssize_t n = readlink(procPath(pid, "exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    std::string path(buf, static_cast<size_t>(n));
    static const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        path.resize(path.size() - deleted.size());
    return path;
}

static void keyOf(const struct stat& st, ExeKey& key)
{
    key.ino = st.st_ino;
    key.dev = (major(st.st_dev) << 20) | minor(st.st_dev);
}

bool exeKeyOfProcess(uint32_t pid, ExeKey& key)
{
    // The image may live on a user's FUSE mount whose server never answers: the cached
    // attributes are enough for inode and device, and asking the file system could freeze the
    // whole service.
    struct statx stx;
    if (statx(AT_FDCWD, procPath(pid, "exe").c_str(), AT_STATX_DONT_SYNC, STATX_INO, &stx) != 0)
        return false;
    key.ino = stx.stx_ino;
    key.dev = (stx.stx_dev_major << 20) | stx.stx_dev_minor;
    return true;
}

bool exeKeyOfFile(const std::string& path, ExeKey& key)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    keyOf(st, key);
    return true;
}

bool exeKeyOfFileIn(int root, const std::string& path, ExeKey& key)
{
    if (root < 0)
        return exeKeyOfFile(path, key);
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    const int fd = static_cast<int>(syscall(SYS_openat2, root, path.c_str(), &how, sizeof how));
    if (fd < 0)
        return false;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (ok)
        keyOf(st, key);
    return ok;
}

int openPeerRoot(int unixFd, uint64_t& mountNs)
{
    // The pid alone could be reused between the question and the open: the peer's pidfd
    // says afterwards whether the process opened is still the one connected.
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(unixFd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || cred.pid <= 0)
        return -1;
    int pidfd = -1;
    length = sizeof pidfd;
    if (getsockopt(unixFd, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0)
        return -1;
    const uint32_t pid = static_cast<uint32_t>(cred.pid);
    int root = open(procPath(pid, "root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat theirNs, ourNs, theirRoot, ourRoot;
    const bool sameNs = stat(procPath(pid, "ns/mnt").c_str(), &theirNs) == 0 &&
                        stat("/proc/self/ns/mnt", &ourNs) == 0 && theirNs.st_ino == ourNs.st_ino;
    const bool alive = syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0;
    close(pidfd);
    // Our own mounts and root: paths mean what they mean to us.
    const bool ours = root >= 0 && sameNs && fstat(root, &theirRoot) == 0 &&
                      stat("/", &ourRoot) == 0 && theirRoot.st_dev == ourRoot.st_dev &&
                      theirRoot.st_ino == ourRoot.st_ino;
    if (root >= 0 && (!alive || ours)) {
        close(root);
        root = -1;
    }
    mountNs = root >= 0 ? theirNs.st_ino : 0;
    return root;
}

int openRootOfMountNamespace(uint64_t mountNs)
{
    for (uint32_t pid : processIds()) {
        struct stat ns;
        if (stat(procPath(pid, "ns/mnt").c_str(), &ns) != 0 || ns.st_ino != mountNs)
            continue;
        const int root = open(procPath(pid, "root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        // The pid may have changed hands between the two looks: the namespace must still match.
        if (root >= 0 && stat(procPath(pid, "ns/mnt").c_str(), &ns) == 0 && ns.st_ino == mountNs)
            return root;
        if (root >= 0)
            close(root);
    }
    return -1;
}

void socketInodes(uint32_t pid, std::vector<uint32_t>& out)
{
    const std::string fdDir = procPath(pid, "fd");
    std::unique_ptr<DIR, DirCloser> dir(opendir(fdDir.c_str()));
    if (!dir)
        return;
    char target[64];
    while (dirent* e = readdir(dir.get())) {
        if (e->d_name[0] == '.')
            continue;
        const std::string link = fdDir + "/" + e->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 8)
            continue;
        target[n] = 0;
        if (std::strncmp(target, "socket:[", 8) != 0)
            continue;
        char* end = nullptr;
        const unsigned long ino = std::strtoul(target + 8, &end, 10);
        if (end && *end == ']' && ino > 0 && ino <= 0xFFFFFFFFul)
            out.push_back(static_cast<uint32_t>(ino));
    }
}

uint64_t netnsId(uint32_t pid)
{
    struct stat st;
    if (stat(procPath(pid, "ns/net").c_str(), &st) != 0)
        return 0;
    return st.st_ino;
}

bool processAlive(uint32_t pid)
{
    struct stat st;
    return stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

bool ownerOfProcess(uint32_t pid, uint32_t& uid)
{
    struct stat st;
    if (stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0)
        return false;
    uid = st.st_uid;
    return true;
}

uint64_t startTicks(uint32_t pid)
{
    char buf[1024];
    const int fd = open(procPath(pid, "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return 0;
    buf[n] = 0;
    // The name in parentheses may hold anything; the fields after its last ')' are fixed:
    // state is field 3, the start time field 22.
    const char* p = std::strrchr(buf, ')');
    if (!p)
        return 0;
    ++p;
    for (int field = 2; field < 21 && p; ++field)
        p = std::strchr(p + 1, ' ');
    return p ? std::strtoull(p + 1, nullptr, 10) : 0;
}

uint64_t ticksOfNanoseconds(uint64_t ns)
{
    static const long hz = sysconf(_SC_CLK_TCK);
    return hz > 0 ? ns / (1000000000ull / static_cast<uint64_t>(hz)) : 0;
}

} // namespace filterd

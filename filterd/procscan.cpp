// SPDX-License-Identifier: GPL-3.0-or-later
#include "procscan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

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

} // namespace filterd

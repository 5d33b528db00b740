// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/procfsprocesses.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vb::platform::linux_ {

ProcfsProcesses::ProcfsProcesses(std::string procRoot) : m_root(std::move(procRoot)) {}

bool ProcfsProcesses::processIds(std::vector<ProcessId>& ids)
{
    ids.clear();
    DIR* d = ::opendir(m_root.c_str());
    if (!d)
        return false;
    while (dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (*n < '1' || *n > '9')
            continue;
        char* end = nullptr;
        const unsigned long v = std::strtoul(n, &end, 10);
        if (*end == '\0' && v > 0 && v <= 0xffffffffUL)
            ids.push_back(static_cast<ProcessId>(v));
    }
    ::closedir(d);
    return true;
}

std::string ProcfsProcesses::imagePath(ProcessId pid)
{
    const std::string link = m_root + "/" + std::to_string(pid) + "/exe";
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof(buf) - 1);
    if (n <= 0)
        return std::string();
    std::string path(buf, static_cast<size_t>(n));
    // An image replaced on disk while running reads "<path> (deleted)"; keep the path.
    static const std::string kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    return path;
}

std::optional<uint64_t> ProcfsProcesses::parseVmRssBytes(const std::string& statusText)
{
    std::istringstream in(statusText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, "VmRSS:") != 0)
            continue;
        const char* p = line.c_str() + 6;
        char* end = nullptr;
        errno = 0;
        const unsigned long long kb = std::strtoull(p, &end, 10);
        if (end == p || errno == ERANGE)
            return std::nullopt;
        return static_cast<uint64_t>(kb) * 1024u;
    }
    return std::nullopt;
}

std::optional<uint64_t> ProcfsProcesses::workingSetBytes(ProcessId pid)
{
    std::ifstream f(m_root + "/" + std::to_string(pid) + "/status");
    if (!f)
        return std::nullopt;
    std::stringstream ss;
    ss << f.rdbuf();
    return parseVmRssBytes(ss.str());
}

uint32_t ProcfsProcesses::queryAccess(ProcessId pid)
{
    if (pid == 0)
        return ErrInvalidParameter;
    // Reading the image link needs the same rights as opening the process for queries.
    const std::string dir = m_root + "/" + std::to_string(pid);
    char buf[8];
    if (::readlink((dir + "/exe").c_str(), buf, sizeof(buf)) >= 0)
        return ErrSuccess;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        return ErrInvalidParameter; // gone, or never was: OpenProcess says the same
    // Kernel threads have no image (ENOENT), other users' processes are EACCES.
    return ErrAccessDenied;
}

bool ProcfsProcesses::terminate(ProcessId pid)
{
    if (pid == 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

ProcessId ProcfsProcesses::currentProcessId()
{
    return static_cast<ProcessId>(::getpid());
}

} // namespace vb::platform::linux_

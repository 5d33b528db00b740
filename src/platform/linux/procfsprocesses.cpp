// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/procfsprocesses.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
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

uint64_t ProcfsProcesses::parseStartTime(const std::string& statText)
{
    // The name in parentheses may hold anything, spaces and ')' included: count from the last.
    const size_t close = statText.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream in(statText.substr(close + 1));
    std::string field;
    // Fields 3 (state) to 22 (starttime) follow the name.
    for (int n = 3; n <= 22; ++n)
        if (!(in >> field))
            return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(field.c_str(), &end, 10);
    return (*end != '\0' || errno == ERANGE) ? 0 : static_cast<uint64_t>(v);
}

uint64_t ProcfsProcesses::startTime(ProcessId pid)
{
    if (pid == 0)
        return 0;
    std::ifstream f(m_root + "/" + std::to_string(pid) + "/stat");
    if (!f)
        return 0;
    std::stringstream ss;
    ss << f.rdbuf();
    return parseStartTime(ss.str());
}

namespace {

class PidFd
{
public:
    explicit PidFd(ProcessId pid)
        : m_fd(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)))
    {}
    ~PidFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PidFd(const PidFd&) = delete;
    PidFd& operator=(const PidFd&) = delete;
    bool isOpen() const { return m_fd >= 0; }
    bool signal(int sig) const
    {
        return ::syscall(SYS_pidfd_send_signal, m_fd, sig, nullptr, 0) == 0;
    }
    // Whether the process has ended within waitMs (0: right now).
    bool ended(uint32_t waitMs) const
    {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{m_fd, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
            if (r > 0)
                return true;
            if (r == 0 || errno != EINTR)
                return false;
        }
    }

private:
    int m_fd;
};

} // namespace

bool ProcfsProcesses::terminate(ProcessId pid, uint64_t expectedStart, uint32_t waitMs)
{
    if (pid == 0)
        return false;
    // The descriptor holds one process for good: whatever happens to the id from here on,
    // the signals below reach that process or none.
    const PidFd proc(pid);
    if (!proc.isOpen())
        return false;
    // While the held process exists (unreaped included) its id is not handed out, so its
    // entry read now is its own; if it ended meanwhile the start time read is a newcomer's
    // (or none) and differs, and the process is left alone.
    if (expectedStart != 0 && startTime(pid) != expectedStart)
        return false;
    if (proc.ended(0))
        return false; // it was gone before we came: not ours to count
    if (!proc.signal(SIGTERM))
        return false;
    if (proc.ended(waitMs))
        return true;
    // Still there: it ignores or takes too long over the request to close.
    if (!proc.signal(SIGKILL))
        return proc.ended(0);
    return proc.ended(waitMs);
}

ProcessId ProcfsProcesses::currentProcessId()
{
    return static_cast<ProcessId>(::getpid());
}

} // namespace vb::platform::linux_

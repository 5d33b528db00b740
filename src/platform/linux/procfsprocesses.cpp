// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/procfsprocesses.h"

#include "platform/linux/kernelfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vb::platform::linux_ {

ProcfsProcesses::ProcfsProcesses(std::string procRoot)
    : m_root(std::move(procRoot)), m_pageSize(static_cast<uint64_t>(::sysconf(_SC_PAGESIZE))),
      m_watchExits(m_root == "/proc")
{}

ProcfsProcesses::~ProcfsProcesses()
{
    stopWatching();
}

void ProcfsProcesses::stopWatching()
{
    for (const auto& [pid, watch] : m_exitFds)
        ::close(watch.fd);
    m_exitFds.clear();
    m_ended.clear();
    if (m_exitPoll >= 0)
        ::close(m_exitPoll);
    m_exitPoll = -1;
}

bool ProcfsProcesses::ownPidNamespace() const
{
    // NSpid lists the process's id in every namespace from the one this /proc was mounted for
    // down to its own: a single entry means they are the same. Otherwise the listed ids are not
    // ours to open, and new processes there need not move our namespace's last id.
    const std::optional<std::string> read = readWholeFile(m_root + "/self/status");
    if (!read)
        return false;
    const std::string& status = *read;
    const size_t line = status.find("\nNSpid:");
    if (line == std::string::npos)
        return false;
    const size_t begin = line + 7;
    const size_t end = status.find('\n', begin);
    std::istringstream fields(status.substr(begin, end == std::string::npos ? end : end - begin));
    std::string field;
    int count = 0;
    while (fields >> field)
        ++count;
    return count == 1;
}

void ProcfsProcesses::watchExits(const std::vector<ProcessId>& ids)
{
    std::lock_guard<std::mutex> lock(m_exitsMutex);
    if (!m_watchExits)
        return;
    // One descriptor per process: half the descriptor limit stays for everything else (a
    // desktop's 1024 leaves room for 512 processes). Beyond it the ids are listed every time.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || ids.size() > files.rlim_cur / 2) {
        stopWatching();
        return;
    }
    if (m_exitPoll < 0) {
        if (!ownPidNamespace()) {
            m_watchExits = false;
            return;
        }
        m_exitPoll = ::epoll_create1(EPOLL_CLOEXEC);
    }
    if (m_exitPoll < 0) {
        m_watchExits = false;
        return;
    }
    // ids is sorted. A process gone from the listing whose reaping the stamp has not counted
    // yet (another thread listed between two stamps) counts now.
    for (auto it = m_exitFds.begin(); it != m_exitFds.end();) {
        if (!std::binary_search(ids.begin(), ids.end(), it->first)) {
            ::close(it->second.fd);
            it = m_exitFds.erase(it);
            ++m_exits;
        } else {
            ++it;
        }
    }
    for (const ProcessId pid : ids) {
        if (m_exitFds.count(pid))
            continue;
        const int fd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
        if (fd < 0) {
            if (errno == ESRCH) {
                ++m_exits; // gone since it was listed
                continue;
            }
            // Out of descriptors: try again with a later listing. No pidfds at all (an old
            // kernel): list every time.
            if (errno != EMFILE && errno != ENFILE && errno != ENOMEM)
                m_watchExits = false;
            stopWatching();
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = pid;
        if (::epoll_ctl(m_exitPoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(fd);
            stopWatching();
            m_watchExits = false;
            return;
        }
        m_exitFds.emplace(pid, ExitWatch{fd, false});
    }
}

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
    std::sort(ids.begin(), ids.end());
    watchExits(ids);
    return true;
}

std::string ProcfsProcesses::imagePath(ProcessId pid)
{
    uint32_t access = ErrSuccess;
    return readImageLink(pid, access);
}

std::string ProcfsProcesses::readImageLink(ProcessId pid, uint32_t& access)
{
    const std::string dir = m_root + "/" + std::to_string(pid);
    char buf[4096];
    const ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof(buf) - 1);
    if (n <= 0) {
        struct stat st;
        // Gone, or never was, as OpenProcess says; else a kernel thread (no image) or another
        // user's process.
        access = ::stat(dir.c_str(), &st) != 0 ? ErrInvalidParameter : ErrAccessDenied;
        return std::string();
    }
    access = ErrSuccess;
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
    const auto status = readWholeFile(m_root + "/" + std::to_string(pid) + "/status");
    return status ? parseVmRssBytes(*status) : std::nullopt;
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

bool ProcfsProcesses::parseStat(const std::string& statText, StatFields& out)
{
    out = StatFields{};
    // The name in parentheses may hold anything, spaces and ')' included: count from the last.
    const size_t open = statText.find('(');
    const size_t close = statText.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    StatFields f;
    f.name = statText.substr(open + 1, close - open - 1);
    const char* p = statText.c_str() + close + 1;
    const char* const end = statText.c_str() + statText.size();
    // Fields 3 (state) on follow the name; up to 22 (starttime) they must all be there, the
    // later ones only on kernels that have them.
    int last = 2;
    for (int n = 3; n <= 28; ++n) {
        while (p != end && (*p == ' ' || *p == '\n'))
            ++p;
        if (p == end)
            break;
        const char* word = p;
        while (p != end && *p != ' ' && *p != '\n')
            ++p;
        uint64_t* slot = n == 22   ? &f.startTime
                         : n == 24 ? &f.rssPages
                         : n == 26 ? &f.startCode
                         : n == 27 ? &f.endCode
                         : n == 28 ? &f.startStack
                                   : nullptr;
        if (slot && !decimalField(word, p, *slot))
            return false;
        last = n;
    }
    if (last < 22)
        return false;
    out = std::move(f);
    return true;
}

uint64_t ProcfsProcesses::parseStartTime(const std::string& statText)
{
    StatFields f;
    return parseStat(statText, f) ? f.startTime : 0;
}

uint64_t ProcfsProcesses::startTime(ProcessId pid)
{
    if (pid == 0)
        return 0;
    const std::optional<std::string> text =
        readWholeFile(m_root + "/" + std::to_string(pid) + "/stat");
    return text ? parseStartTime(*text) : 0;
}

ProcessRecord ProcfsProcesses::record(ProcessId pid)
{
    ProcessRecord r;
    if (pid == 0)
        return r;
    const std::optional<std::string> text =
        readWholeFile(m_root + "/" + std::to_string(pid) + "/stat");
    StatFields st;
    if (!text || !parseStat(*text, st)) {
        std::lock_guard<std::mutex> lock(m_imagesMutex);
        m_images.erase(pid); // gone
        return r;
    }
    ImageKey key{st.startTime, std::move(st.name), st.startCode, st.endCode, st.startStack};
    // The stack's address reads 0 to a reader that may not inspect the process (or when it
    // has no memory of its own): such a process is never served from memory, so the refusal
    // is read afresh.
    const bool inspectable = key.startStack != 0;
    bool known = false;
    if (inspectable) {
        std::lock_guard<std::mutex> lock(m_imagesMutex);
        const auto it = m_images.find(pid);
        if (it != m_images.end() && it->second.key == key) {
            it->second.seen = true;
            r.imagePath = it->second.path;
            known = true;
        }
    }
    if (!known) {
        r.imagePath = readImageLink(pid, r.access);
        std::lock_guard<std::mutex> lock(m_imagesMutex);
        if (r.access == ErrSuccess && inspectable)
            m_images[pid] = KnownImage{std::move(key), r.imagePath, true};
        else
            m_images.erase(pid);
        if (r.access != ErrSuccess)
            return r;
    }
    r.access = ErrSuccess;
    r.startTime = st.startTime;
    r.workingSetBytes = st.rssPages * m_pageSize;
    return r;
}

std::optional<TaskStamp> ProcfsProcesses::taskStamp()
{
    std::lock_guard<std::mutex> lock(m_exitsMutex);
    if (m_exitPoll < 0)
        return std::nullopt;
    TaskStamp stamp;
    // "0.00 0.01 0.05 1/523 12345": the last field is the last id handed out in the reader's
    // pid namespace, where every process of this /proc got its id.
    if (!m_loadavg)
        m_loadavg = std::make_unique<HeldKernelFile>(m_root + "/loadavg");
    const std::optional<std::string> read = m_loadavg->read();
    if (!read)
        return std::nullopt;
    const std::string& text = *read;
    const size_t space = text.find_last_of(' ');
    const size_t end = text.find_last_not_of('\n');
    if (space == std::string::npos || end == std::string::npos || end <= space ||
        !decimalField(text.data() + space + 1, text.data() + end + 1, stamp.created))
        return std::nullopt;
    // An exit leaves a zombie that stays listed until its parent reaps it, and only then does
    // the listing change: an ended process leaves the epoll set (readable stays readable), and
    // from then on each stamp asks its pidfd whether it is reaped yet, which a reused id cannot
    // fake.
    epoll_event ev[16];
    for (size_t round = 0; round <= m_exitFds.size() / 16; ++round) {
        const int ready = ::epoll_wait(m_exitPoll, ev, 16, 0);
        if (ready < 0)
            return std::nullopt;
        for (int i = 0; i < ready; ++i) {
            const auto it = m_exitFds.find(ev[i].data.u32);
            if (it == m_exitFds.end())
                continue;
            ::epoll_ctl(m_exitPoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
            it->second.ended = true;
            m_ended.push_back(it->first);
        }
        if (ready < 16)
            break;
    }
    // Only the few ended ones are looked at: the whole set is hundreds of entries, and a walk
    // over them each second would cost more than the listing it spares.
    for (size_t i = 0; i < m_ended.size();) {
        const auto it = m_exitFds.find(m_ended[i]);
        // An entry a listing dropped (or a later process under the same id) is no longer awaited.
        const bool awaited = it != m_exitFds.end() && it->second.ended;
        const bool reaped = awaited &&
                            ::syscall(SYS_pidfd_send_signal, it->second.fd, 0, nullptr, 0) != 0 &&
                            errno == ESRCH;
        if (reaped) {
            ::close(it->second.fd);
            m_exitFds.erase(it);
            ++m_exits;
        }
        if (!awaited || reaped) {
            m_ended[i] = m_ended.back();
            m_ended.pop_back();
        } else {
            ++i;
        }
    }
    stamp.ended = m_exits;
    return stamp;
}

void ProcfsProcesses::passEnded()
{
    std::lock_guard<std::mutex> lock(m_imagesMutex);
    for (auto it = m_images.begin(); it != m_images.end();) {
        if (!it->second.seen) {
            it = m_images.erase(it);
        } else {
            it->second.seen = false;
            ++it;
        }
    }
}

bool ProcfsProcesses::holdsImageOf(ProcessId pid) const
{
    std::lock_guard<std::mutex> lock(m_imagesMutex);
    return m_images.count(pid) != 0;
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

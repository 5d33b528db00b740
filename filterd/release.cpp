// SPDX-License-Identifier: GPL-3.0-or-later
#include "release.h"

#include "filterwire/filterwire.h"
#include "platform/linux/pidfdworkingsets.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace filterd {

namespace wire = vb::filterwire;

uint32_t ReleaseGate::admit(uid_t uid, size_t inputLength, Clock::time_point now)
{
    if (inputLength != 0)
        return wire::ErrInvalidParameter; // nothing to name: the service picks the processes
    if (m_running)
        return wire::ErrBusy;
    const auto last = m_last.find(uid);
    if (uid != 0 && last != m_last.end() && now - last->second < m_pause)
        return wire::ErrBusy;
    m_running = true;
    return wire::ErrSuccess;
}

void ReleaseGate::finished(uid_t uid, Clock::time_point now)
{
    m_running = false;
    m_last[uid] = now;
    // Only the users still within their pause are remembered.
    for (auto it = m_last.begin(); it != m_last.end();)
        it = now - it->second >= m_pause ? m_last.erase(it) : std::next(it);
}

namespace {

// Field 22 of /proc/<pid>/stat, after the command name (which may hold anything).
bool startTimeOf(const std::string& procRoot, pid_t pid, uid_t uid, std::string& out)
{
    const std::string dir = procRoot + "/" + std::to_string(pid);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || st.st_uid != uid)
        return false; // gone, or its id now belongs to someone else
    std::ifstream f(dir + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(text.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(rest >> field))
            return false;
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = field;
    return true;
}

} // namespace

uint32_t ReleaseJob::authorise(const ReleaseOptions& options, pid_t pid, uid_t uid)
{
    std::string start;
    if (!startTimeOf(options.procRoot, pid, uid, start))
        return wire::ErrAccessDenied;
    const std::string subject =
        std::to_string(pid) + "," + start + "," + std::to_string(static_cast<unsigned>(uid));
    std::vector<std::string> args{options.authority, "--action-id", options.action,
                                  "--process",       subject,       "--allow-user-interaction"};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {path, nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, options.authority.c_str(), &files, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        return wire::ErrAccessDenied; // no authority, no release
    // The child's end within the limit; a pidfd makes the wait a bounded poll.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    bool ended = false;
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + options.authTimeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            const int n = ::poll(&p, 1, static_cast<int>(left));
            if (n > 0) {
                ended = true;
                break;
            }
            if (n < 0 && errno != EINTR)
                break;
        }
        ::close(pidfd);
    }
    if (!ended)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended)
        return wire::ErrTimeout;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? wire::ErrSuccess : wire::ErrAccessDenied;
}

ReleaseJob::Result ReleaseJob::emptyAll(const std::string& procRoot)
{
    Result r;
    std::vector<uint32_t> pids;
    if (DIR* d = ::opendir(procRoot.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0' && v > 0 && v <= 0x7FFFFFFF)
                pids.push_back(static_cast<uint32_t>(v));
        }
        ::closedir(d);
    }
    vb::platform::linux_::PidfdWorkingSets sets(procRoot);
    for (const uint32_t pid : pids) {
        ++r.tried;
        const auto one = sets.emptyWorkingSet(pid);
        if (!one.reached)
            continue;
        ++r.emptied;
        r.releasedBytes += one.releasedBytes;
    }
    return r;
}

ReleaseJob::ReleaseJob(const ReleaseOptions& options, pid_t peerPid, uid_t peerUid)
    : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_done < 0) {
        m_result.error = wire::ErrNotEnoughMemory;
        return; // nothing to tell the end by: the caller answers at once
    }
    m_thread = std::thread([this, options, peerPid, peerUid] {
        Result r;
        r.error = peerUid == 0 ? wire::ErrSuccess : authorise(options, peerPid, peerUid);
        if (r.error == wire::ErrSuccess) {
            const Result done = emptyAll(options.procRoot);
            r.releasedBytes = done.releasedBytes;
            r.emptied = done.emptied;
            r.tried = done.tried;
        }
        m_result = r;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_done, &one, sizeof one);
    });
}

ReleaseJob::~ReleaseJob()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_done >= 0)
        ::close(m_done);
}

ReleaseJob::Result ReleaseJob::take()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_result;
}

} // namespace filterd

// SPDX-License-Identifier: GPL-3.0-or-later
// Memory releases the service does for its clients: every process of the machine emptied,
// for root at once and for anyone else only after polkit has authorised that very process.
// Every caller is hostile: the request carries nothing (the service alone picks the
// processes), one release runs at a time, a user asks again only after a pause, and the
// authorisation is bounded in time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>

namespace filterd {

struct ReleaseOptions
{
    // The program that asks polkit (pkcheck's command line and exit codes).
    std::string authority = "/usr/bin/pkcheck";
    std::string action = "org.verdantsuite.ball.release-memory";
    std::chrono::milliseconds authTimeout{25000};
    // Between two releases of one user other than root.
    std::chrono::milliseconds userPause{10000};
    std::string procRoot = "/proc";
};

// Who may start a release now; the caller's clock, so tests need not wait.
class ReleaseGate
{
public:
    using Clock = std::chrono::steady_clock;
    explicit ReleaseGate(std::chrono::milliseconds userPause) : m_pause(userPause) {}
    // ErrSuccess (and the release counts as running), ErrInvalidParameter or ErrBusy.
    uint32_t admit(uid_t uid, size_t inputLength, Clock::time_point now);
    void finished(uid_t uid, Clock::time_point now);
    bool running() const { return m_running; }

private:
    std::chrono::milliseconds m_pause;
    bool m_running = false;
    std::map<uid_t, Clock::time_point> m_last;
};

// One release on a thread of its own; its end makes doneFd() readable.
class ReleaseJob
{
public:
    struct Result
    {
        uint32_t error = 0;
        uint64_t releasedBytes = 0;
        uint32_t emptied = 0;
        uint32_t tried = 0;
    };
    ReleaseJob(const ReleaseOptions& options, pid_t peerPid, uid_t peerUid);
    ~ReleaseJob();
    ReleaseJob(const ReleaseJob&) = delete;
    ReleaseJob& operator=(const ReleaseJob&) = delete;
    int doneFd() const { return m_done; }
    // Waits for the thread (it has ended once doneFd() is readable).
    Result take();

    // Whether the authority grants the action to the process pid of uid, whose start time
    // is read here: ErrSuccess, ErrAccessDenied or ErrTimeout.
    static uint32_t authorise(const ReleaseOptions& options, pid_t pid, uid_t uid);
    // Empties every process under procRoot.
    static Result emptyAll(const std::string& procRoot);

private:
    int m_done = -1;
    Result m_result;
    std::thread m_thread;
};

} // namespace filterd

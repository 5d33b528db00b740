// SPDX-License-Identifier: GPL-3.0-or-later
// The service's two Unix sockets and its event loop. Every peer is checked when it connects:
// the read-write socket serves root and members of the administrators' group, the read-only
// socket any local user. Local users are hostile here: each socket and each user has its own
// session budget (root one of its own), idle sessions are dropped, and an ordinary user's
// requests are paced and see only that user's own processes.
#pragma once

#include "protocol.h"
#include "release.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace filterd {

class TrafficBackend;

struct ServerOptions
{
    std::string socketDir;
    gid_t adminGroup = 0;
    // Sessions of users other than root, per socket and per user on each socket.
    size_t maxReadOnly = 96;
    size_t maxReadWrite = 32;
    size_t maxPerUser = 8;
    // Root's own budget, which nobody else can use up.
    size_t maxRoot = 32;
    std::chrono::milliseconds idleTimeout{30000};
    ReleaseOptions release;
    // Request pacing per user (root is not paced): a request costs one token, building a list
    // anew costs rebuildCost; a user out of tokens is not read from until they come back.
    double tokensPerSecond = 200;
    double tokenBurst = 400;
    double rebuildCost = 25;
};

class Server
{
public:
    Server(TrafficBackend& backend, ServerOptions options);
    ~Server();
    // Creates the socket files; false (with a reason) when another service holds them.
    bool listen(std::string& error);
    // Runs until SIGTERM or SIGINT.
    int run();

private:
    using Clock = std::chrono::steady_clock;
    struct Client
    {
        int fd = -1;
        uid_t uid = 0;
        pid_t pid = 0; // the process that connected
        // Waits for the memory release it asked for; not read from meanwhile.
        bool releasing = false;
        bool writable = false;
        std::unique_ptr<Session> session;
        Clock::time_point lastRequest;
        bool parked = false;
        // A request read but not yet paid for.
        std::vector<uint8_t> pending;
    };
    struct Bucket
    {
        double tokens = 0;
        Clock::time_point refilled;
    };
    bool peerIsAdmin(int fd, const ucred& cred);
    void accept(int listenFd, bool writable);
    bool admit(uid_t uid, bool writable) const;
    void serve(Client& client);
    // Answers one request; false when the client was dropped.
    bool answer(Client& client, const uint8_t* msg, size_t length);
    bool pay(Client& client, double cost);
    void park(Client& client, bool on);
    void upkeep();
    void pauseAccepting(bool on);
    void drop(int fd);
    // Starts a release for the client, or answers why not; false when the client was dropped.
    bool startRelease(Client& client, size_t inputLength);
    void endRelease();

    TrafficBackend& m_backend;
    ServerOptions m_options;
    int m_epoll = -1;
    int m_rwListen = -1;
    int m_roListen = -1;
    int m_signal = -1;
    int m_timer = -1;
    int m_procEvents = -1;
    std::map<int, Client> m_clients;
    std::map<uid_t, Bucket> m_buckets;
    ReleaseGate m_releaseGate;
    std::unique_ptr<ReleaseJob> m_release;
    int m_releaseFd = -1; // the client the running release answers (-1: gone)
    uid_t m_releaseUid = 0;
    // Out of descriptors: the listening sockets are left alone until the next upkeep.
    bool m_acceptPaused = false;
};

} // namespace filterd

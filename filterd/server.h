// SPDX-License-Identifier: GPL-3.0-or-later
// The service's two Unix sockets and its event loop. Every peer is checked when it connects:
// the read-write socket serves root and members of the administrators' group, the read-only
// socket any local user.
#pragma once

#include "protocol.h"

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

namespace filterd {

class TrafficBackend;

struct ServerOptions
{
    std::string socketDir;
    gid_t adminGroup = 0;
    size_t maxClients = 128;
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
    struct Client
    {
        int fd = -1;
        std::unique_ptr<Session> session;
    };
    bool peerMayWrite(int fd);
    void accept(int listenFd, bool writable);
    void serve(Client& client);
    void drop(int fd);

    TrafficBackend& m_backend;
    ServerOptions m_options;
    int m_epoll = -1;
    int m_rwListen = -1;
    int m_roListen = -1;
    int m_signal = -1;
    int m_timer = -1;
    int m_procEvents = -1;
    std::map<int, Client> m_clients;
};

} // namespace filterd

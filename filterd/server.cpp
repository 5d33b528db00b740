// SPDX-License-Identifier: GPL-3.0-or-later
#include "server.h"

#include "filterwire/framing.h"
#include "traffic.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace filterd {

namespace fs = vb::filterwire;

namespace {

bool fillAddress(sockaddr_un& addr, const std::string& path)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Another service answering on the path?
bool inUse(const std::string& path)
{
    sockaddr_un addr;
    if (!fillAddress(addr, path))
        return false;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool busy = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return busy;
}

int listenOn(const std::string& path, mode_t mode, gid_t group, std::string& error)
{
    sockaddr_un addr;
    if (!fillAddress(addr, path)) {
        error = "socket path too long: " + path;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    unlink(path.c_str());
    // Created unreachable, opened up only once owner and mode are right.
    const mode_t old = umask(0777);
    const int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (bound != 0 || chown(path.c_str(), 0, group) != 0 || chmod(path.c_str(), mode) != 0 ||
        ::listen(fd, 64) != 0) {
        error = "listen on " + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

void sendHello(int fd, uint32_t error, uint32_t mode)
{
    const std::vector<uint8_t> msg = fs::encodeHello(error, mode);
    send(fd, msg.data(), msg.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

Server::Server(TrafficBackend& backend, ServerOptions options)
    : m_backend(backend), m_options(std::move(options))
{}

Server::~Server()
{
    for (auto& [fd, c] : m_clients) {
        (void)c;
        close(fd);
    }
    // Only the files this service made: a second service that found them in use leaves the
    // first one's sockets alone.
    if (m_rwListen >= 0)
        unlink((m_options.socketDir + "/" + fs::ReadWriteSocketName).c_str());
    if (m_roListen >= 0)
        unlink((m_options.socketDir + "/" + fs::ReadOnlySocketName).c_str());
    for (int fd : {m_rwListen, m_roListen, m_signal, m_timer, m_epoll})
        if (fd >= 0)
            close(fd);
}

bool Server::listen(std::string& error)
{
    mkdir(m_options.socketDir.c_str(), 0755);
    const std::string rw = m_options.socketDir + "/" + fs::ReadWriteSocketName;
    const std::string ro = m_options.socketDir + "/" + fs::ReadOnlySocketName;
    if (inUse(rw) || inUse(ro)) {
        error = "another filter service serves " + m_options.socketDir;
        return false;
    }
    m_rwListen = listenOn(rw, 0660, m_options.adminGroup, error);
    if (m_rwListen < 0)
        return false;
    m_roListen = listenOn(ro, 0666, 0, error);
    if (m_roListen < 0)
        return false;

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    m_signal = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    itimerspec every{{0, 250000000}, {0, 250000000}};
    timerfd_settime(m_timer, 0, &every, nullptr);
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_procEvents = m_backend.processEventFd();
    for (int fd : {m_rwListen, m_roListen, m_signal, m_timer, m_procEvents}) {
        if (fd < 0)
            continue;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
    }
    return m_signal >= 0 && m_timer >= 0 && m_epoll >= 0;
}

bool Server::peerMayWrite(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return false;
    if (cred.uid == 0)
        return true;
    if (m_options.adminGroup == 0)
        return false;
    if (cred.gid == m_options.adminGroup)
        return true;
    // The groups the connecting process itself holds, as the kernel recorded them at
    // connect time: no user database lookup, no race with a process that changed since.
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size) == 0) {
            groups.resize(size / sizeof(gid_t));
            for (gid_t g : groups)
                if (g == m_options.adminGroup)
                    return true;
            return false;
        }
        if (errno != ERANGE || size / sizeof(gid_t) > 65536)
            return false;
        groups.resize(size / sizeof(gid_t));
    }
    return false;
}

void Server::accept(int listenFd, bool writable)
{
    for (int round = 0; round < 64; ++round) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (m_clients.size() >= m_options.maxClients) {
            sendHello(fd, ErrNotEnoughMemory, 0);
            close(fd);
            continue;
        }
        if (writable && !peerMayWrite(fd)) {
            sendHello(fd, ErrAccessDenied, 0);
            close(fd);
            continue;
        }
        int size = 512 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        const Access access = writable ? Access::ReadWrite : Access::ReadOnly;
        Client c;
        c.fd = fd;
        c.session = std::make_unique<Session>(m_backend, access);
        if (writable) // paths to block are the caller's, maybe in a mount namespace of its own
            c.session->setCallerRoot(openPeerRoot(fd));
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            close(fd);
            continue;
        }
        sendHello(fd, ErrSuccess, static_cast<uint32_t>(access));
        m_clients.emplace(fd, std::move(c));
    }
}

void Server::drop(int fd)
{
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    m_clients.erase(fd);
}

void Server::serve(Client& client)
{
    static std::vector<uint8_t> buf(fs::RequestHeadSize + fs::MaxRequestInput + 1);
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = recv(client.fd, buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n == 0) {
            drop(client.fd);
            return;
        }
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                drop(client.fd);
            return;
        }
        std::vector<uint8_t> msg;
        const auto req = static_cast<size_t>(n) <= buf.size()
                             ? fs::decodeRequest(buf.data(), static_cast<size_t>(n))
                             : std::nullopt;
        if (!req) {
            msg = fs::encodeReply(ErrInvalidParameter, nullptr, 0);
        } else {
            const size_t capacity = std::min<size_t>(req->capacity, fs::MaxReplyOutput);
            Reply r = client.session->handle(req->code, req->input, req->inputLength, capacity);
            msg = fs::encodeReply(r.error, r.bytes.data(), r.bytes.size());
        }
        // A client that does not read its replies is not waited for.
        if (send(client.fd, msg.data(), msg.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(msg.size())) {
            drop(client.fd);
            return;
        }
    }
}

int Server::run()
{
    std::vector<epoll_event> events(64);
    for (;;) {
        const int n = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == m_signal) {
                signalfd_siginfo si{};
                if (read(m_signal, &si, sizeof si) == sizeof si && si.ssi_signo != SIGHUP)
                    return 0;
            } else if (fd == m_timer) {
                uint64_t expirations = 0;
                if (read(m_timer, &expirations, sizeof expirations) > 0)
                    m_backend.tick();
            } else if (fd == m_procEvents) {
                m_backend.onProcessEvents();
            } else if (fd == m_rwListen || fd == m_roListen) {
                accept(fd, fd == m_rwListen);
            } else {
                auto it = m_clients.find(fd);
                if (it == m_clients.end())
                    continue;
                if (events[static_cast<size_t>(i)].events & EPOLLIN)
                    serve(it->second);
                else
                    drop(fd);
            }
        }
    }
}

} // namespace filterd

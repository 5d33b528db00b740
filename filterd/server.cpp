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

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <system_error>
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
    : m_backend(backend), m_options(std::move(options)), m_releaseGate(m_options.release.userPause)
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

bool Server::peerIsAdmin(int fd, const ucred& cred)
{
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

bool Server::admit(uid_t uid, bool writable) const
{
    size_t mine = 0;
    size_t onSocket = 0;
    for (const auto& [fd, c] : m_clients) {
        (void)fd;
        if (uid == 0) {
            mine += c.uid == 0;
            continue;
        }
        if (c.uid == 0 || c.writable != writable)
            continue;
        ++onSocket;
        mine += c.uid == uid;
    }
    if (uid == 0)
        return mine < m_options.maxRoot;
    return mine < m_options.maxPerUser &&
           onSocket < (writable ? m_options.maxReadWrite : m_options.maxReadOnly);
}

void Server::pauseAccepting(bool on)
{
    if (m_acceptPaused == on)
        return;
    m_acceptPaused = on;
    for (int fd : {m_rwListen, m_roListen}) {
        epoll_event ev{};
        ev.events = on ? 0u : uint32_t{EPOLLIN};
        ev.data.fd = fd;
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
    }
}

void Server::accept(int listenFd, bool writable)
{
    for (int round = 0; round < 64; ++round) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the connection stays queued and the socket stays readable:
            // waiting for it again at once would spin, so listening rests until the upkeep.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                std::fprintf(stderr, "filterd: accept: %s; accepting paused\n",
                             std::strerror(errno));
                pauseAccepting(true);
            }
            return;
        }
        // Who asks, before anything is counted: a full budget of others never refuses root.
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
            close(fd);
            continue;
        }
        const bool admin = cred.uid == 0 || peerIsAdmin(fd, cred);
        if (writable && !admin) {
            sendHello(fd, ErrAccessDenied, 0);
            close(fd);
            continue;
        }
        if (!admit(cred.uid, writable)) {
            sendHello(fd, ErrNotEnoughMemory, 0);
            close(fd);
            continue;
        }
        int size = 512 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        const Access access = writable ? Access::ReadWrite : Access::ReadOnly;
        // An ordinary user sees the paths and connections of that user's own processes only.
        Visibility visible;
        if (!admin) {
            const uid_t uid = cred.uid;
            Backend* backend = &m_backend;
            visible = [uid, backend](U64 pid) {
                struct stat st;
                const std::string dir = "/proc/" + std::to_string(pid);
                if (pid <= 0x7FFFFFFFu && stat(dir.c_str(), &st) == 0)
                    return st.st_uid == uid;
                // Gone: the owner remembered while it ran, so users keep their own history.
                uint32_t owner = 0;
                return backend->ownerOfGone(pid, owner) && owner == uid;
            };
        }
        Client c;
        c.fd = fd;
        c.uid = cred.uid;
        c.pid = cred.pid;
        c.writable = writable;
        c.session = std::make_unique<Session>(m_backend, access, std::move(visible));
        c.lastRequest = Clock::now();
        if (writable) // paths to block are the caller's, maybe in a mount namespace of its own
        {
            uint64_t mountNs = 0;
            const int root = openPeerRoot(fd, mountNs);
            c.session->setCallerRoot(root, mountNs);
        }
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0) {
            close(fd);
            continue;
        }
        sendHello(fd, ErrSuccess, static_cast<uint32_t>(access));
        m_clients.emplace(fd, std::move(c));
        if (cred.uid != 0 && !m_buckets.count(cred.uid))
            m_buckets[cred.uid] = Bucket{m_options.tokenBurst, Clock::now()};
    }
}

void Server::drop(int fd)
{
    if (fd == m_releaseFd)
        m_releaseFd = -1; // the release goes on; its answer has nobody to go to
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    m_clients.erase(fd);
}

bool Server::pay(Client& client, double cost)
{
    if (client.uid == 0)
        return true;
    Bucket& b = m_buckets[client.uid];
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - b.refilled).count();
    b.tokens = std::min(m_options.tokenBurst, b.tokens + seconds * m_options.tokensPerSecond);
    b.refilled = now;
    if (b.tokens < cost)
        return false;
    b.tokens -= cost;
    return true;
}

void Server::park(Client& client, bool on)
{
    if (client.parked == on)
        return;
    client.parked = on;
    // A parked client is not read from; only its hang-up is still noticed.
    epoll_event ev{};
    ev.events = on ? uint32_t{EPOLLRDHUP} : uint32_t{EPOLLIN | EPOLLRDHUP};
    ev.data.fd = client.fd;
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, client.fd, &ev);
}

bool Server::answer(Client& client, const uint8_t* msg, size_t length)
{
    const auto req = fs::decodeRequest(msg, length);
    const double cost =
        1 + (req && client.session->rebuilds(req->code) ? m_options.rebuildCost : 0);
    if (!pay(client, cost)) {
        client.pending.assign(msg, msg + length);
        park(client, true);
        return true;
    }
    client.lastRequest = Clock::now();
    if (req && req->code == fs::CodeReleaseMemory)
        return startRelease(client, req->inputLength);
    std::vector<uint8_t> out;
    if (!req) {
        out = fs::encodeReply(ErrInvalidParameter, nullptr, 0);
    } else {
        const size_t capacity = std::min<size_t>(req->capacity, fs::MaxReplyOutput);
        Reply r = client.session->handle(req->code, req->input, req->inputLength, capacity);
        out = fs::encodeReply(r.error, r.bytes.data(), r.bytes.size());
    }
    // A client that does not read its replies is not waited for.
    if (send(client.fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(out.size())) {
        drop(client.fd);
        return false;
    }
    return true;
}

void Server::serve(Client& client)
{
    static std::vector<uint8_t> buf(fs::RequestHeadSize + fs::MaxRequestInput + 1);
    for (int round = 0; round < 16 && !client.parked; ++round) {
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
        // An oversized message was cut by the kernel: answered as the malformed request it is.
        const size_t length = static_cast<size_t>(n) <= buf.size() ? static_cast<size_t>(n) : 0;
        if (!answer(client, buf.data(), length))
            return;
    }
}

void Server::upkeep()
{
    const auto now = Clock::now();
    std::vector<int> idle;
    for (auto& [fd, c] : m_clients)
        if (!c.parked && now - c.lastRequest > m_options.idleTimeout)
            idle.push_back(fd);
    for (int fd : idle)
        drop(fd);
    std::vector<int> parked;
    for (auto& [fd, c] : m_clients)
        if (c.parked)
            parked.push_back(fd);
    for (int fd : parked) {
        auto it = m_clients.find(fd);
        if (it == m_clients.end() || it->second.releasing)
            continue;
        Client& c = it->second;
        const std::vector<uint8_t> msg = std::move(c.pending);
        c.pending.clear();
        // Still short of tokens, answer() parks it again.
        c.parked = false;
        if (!answer(c, msg.data(), msg.size()) || c.parked)
            continue;
        c.parked = true;
        park(c, false);
    }
    for (auto it = m_buckets.begin(); it != m_buckets.end();) {
        bool used = false;
        for (const auto& [fd, c] : m_clients)
            used = used || c.uid == it->first;
        it = used ? std::next(it) : m_buckets.erase(it);
    }
    pauseAccepting(false);
}

bool Server::startRelease(Client& client, size_t inputLength)
{
    uint32_t error = m_releaseGate.admit(client.uid, inputLength, Clock::now());
    if (error == ErrSuccess) {
        try {
            m_release = std::make_unique<ReleaseJob>(m_options.release, client.pid, client.uid);
            if (m_release->doneFd() < 0)
                error = m_release->take().error;
        } catch (const std::system_error&) {
            error = ErrNotEnoughMemory; // no thread to run it on
        }
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = m_release ? m_release->doneFd() : -1;
        if (error == ErrSuccess && epoll_ctl(m_epoll, EPOLL_CTL_ADD, ev.data.fd, &ev) != 0)
            error = ErrNotEnoughMemory;
        if (error == ErrSuccess) {
            m_releaseFd = client.fd;
            m_releaseUid = client.uid;
            client.releasing = true;
            park(client, true);
            return true;
        }
        m_release.reset();
        m_releaseGate.finished(client.uid, Clock::now());
    }
    const std::vector<uint8_t> out = fs::encodeReply(error, nullptr, 0);
    if (send(client.fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(out.size())) {
        drop(client.fd);
        return false;
    }
    return true;
}

void Server::endRelease()
{
    uint64_t ignored = 0;
    [[maybe_unused]] const ssize_t n = read(m_release->doneFd(), &ignored, sizeof ignored);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_release->doneFd(), nullptr);
    const ReleaseJob::Result r = m_release->take();
    m_release.reset();
    m_releaseGate.finished(m_releaseUid, Clock::now());
    std::fprintf(stderr,
                 "filterd: memory release for uid %u: error %u, %llu bytes from %u of %u "
                 "processes\n",
                 static_cast<unsigned>(m_releaseUid), r.error,
                 static_cast<unsigned long long>(r.releasedBytes), r.emptied, r.tried);
    const auto it = m_clients.find(m_releaseFd);
    m_releaseFd = -1;
    if (it == m_clients.end())
        return;
    Client& c = it->second;
    c.releasing = false;
    std::vector<uint8_t> bytes;
    if (r.error == ErrSuccess)
        bytes = fs::encodeReleaseResult(fs::ReleaseResult{r.releasedBytes, r.emptied, r.tried});
    const std::vector<uint8_t> out = fs::encodeReply(r.error, bytes.data(), bytes.size());
    if (send(c.fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
        static_cast<ssize_t>(out.size())) {
        drop(c.fd);
        return;
    }
    c.lastRequest = Clock::now();
    park(c, false);
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
                if (read(m_timer, &expirations, sizeof expirations) > 0) {
                    m_backend.tick();
                    upkeep();
                }
            } else if (fd == m_procEvents) {
                m_backend.onProcessEvents();
            } else if (m_release && fd == m_release->doneFd()) {
                endRelease();
            } else if (fd == m_rwListen || fd == m_roListen) {
                accept(fd, fd == m_rwListen);
            } else {
                auto it = m_clients.find(fd);
                if (it == m_clients.end())
                    continue;
                if ((events[static_cast<size_t>(i)].events & EPOLLIN) && !it->second.parked)
                    serve(it->second);
                else
                    drop(fd);
            }
        }
    }
}

} // namespace filterd

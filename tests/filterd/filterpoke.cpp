// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile peer of the filter service. Prints what it did; every mode ends by itself.
//   filterpoke DIR COUNT: random, cut-short and oversized messages on both sockets, and peers
//     that leave in the middle of a reply; fails if the service stops answering.
//   filterpoke hold DIR SOCKET N: opens N sessions on SOCKET (control or readonly), prints how
//     many were accepted, then keeps them until the service closes all of them (at most 120 s).
//   filterpoke fill DIR SOCKET N: queues up to N connections without waiting for any greeting
//     (until the queue is full), then keeps them (at most 120 s).
//   filterpoke hammer DIR COUNT: COUNT connection-list reads, each built anew, on the
//     read-only socket; prints how long they took.
//   filterpoke netns N: N processes, each in a network namespace of its own with a socket,
//     until killed (at most 120 s).
#include "../lib/heldchild.h"
#include "filterwire/filterwire.h"
#include "filterwire/framing.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace fs = vb::filterwire;

namespace {

// A connected socket (not yet greeted), or -1.
int rawConnect(const std::string& path, int flags)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | flags, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// A session the service accepted (its greeting says success), or -1.
int connectTo(const std::string& path)
{
    const int fd = rawConnect(path, 0);
    if (fd < 0)
        return -1;
    uint8_t hello[8];
    pollfd p{fd, POLLIN, 0};
    const auto h = poll(&p, 1, 3000) > 0 && recv(fd, hello, sizeof hello, 0) == 8
                       ? fs::decodeHello(hello, sizeof hello)
                       : std::nullopt;
    if (!h || h->error != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Waits (at most 120 s) until the service has closed every one of the sessions.
int keep(std::vector<int>& fds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    size_t open = fds.size();
    std::vector<pollfd> p;
    for (int fd : fds)
        p.push_back(pollfd{fd, POLLIN, 0});
    while (open > 0 && std::chrono::steady_clock::now() < until) {
        if (poll(p.data(), p.size(), 1000) <= 0)
            continue;
        for (auto& q : p) {
            if (q.fd < 0 || !(q.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            uint8_t b[64];
            if (recv(q.fd, b, sizeof b, MSG_DONTWAIT) > 0)
                continue;
            close(q.fd);
            q.fd = -1;
            --open;
        }
    }
    std::printf("dropped=%zu\n", fds.size() - open);
    std::fflush(stdout);
    return 0;
}

int hold(const std::string& path, long n)
{
    std::vector<int> fds;
    long refused = 0;
    for (long i = 0; i < n; ++i) {
        const int fd = connectTo(path);
        if (fd < 0)
            ++refused;
        else
            fds.push_back(fd);
    }
    std::printf("held=%zu refused=%ld\n", fds.size(), refused);
    std::fflush(stdout);
    return keep(fds);
}

int fill(const std::string& path, long n)
{
    std::vector<int> fds;
    bool full = false;
    for (long i = 0; i < n && !full; ++i) {
        const int fd = rawConnect(path, SOCK_NONBLOCK);
        if (fd < 0)
            full = errno == EAGAIN;
        else
            fds.push_back(fd);
    }
    std::printf("queued=%zu full=%d\n", fds.size(), full ? 1 : 0);
    std::fflush(stdout);
    return keep(fds);
}

int hammer(const std::string& dir, long count)
{
    const int fd = connectTo(dir + "/" + fs::ReadOnlySocketName);
    if (fd < 0)
        return 1;
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> buf(fs::ReplyHeadSize + fs::MaxReplyOutput);
    const auto msg = fs::encodeRequest(fs::CodeConnectionsFirst, 8192, nullptr, 0);
    long answered = 0;
    for (long i = 0; i < count; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) < 0 || poll(&p, 1, 5000) <= 0 ||
            recv(fd, buf.data(), buf.size(), 0) <= 0)
            break;
        ++answered;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("answered=%ld elapsed_ms=%lld\n", answered, static_cast<long long>(ms));
    return answered == count ? 0 : 1;
}

int namespaces(long n)
{
    const pid_t parent = getpid();
    long made = 0;
    for (long i = 0; i < n; ++i) {
        char ok = 0;
        forkHolding(ok, [parent](char& done) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent || unshare(CLONE_NEWNET) != 0 ||
                socket(AF_INET, SOCK_DGRAM, 0) < 0)
                return false;
            alarm(120); // held until killed, at the most two minutes
            done = 1;
            return true;
        });
        made += ok;
    }
    std::printf("ready=%ld\n", made);
    std::fflush(stdout);
    // The children go with this process (SIGKILL on its death).
    alarm(120);
    pause();
    return 0;
}

// Sends one message and waits for the reply; false when the service is gone.
bool exchange(int fd, const std::vector<uint8_t>& msg, uint32_t* error)
{
    if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0)
        return false;
    static std::vector<uint8_t> buf(fs::ReplyHeadSize + fs::MaxReplyOutput);
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    const auto reply = n > 0 ? fs::decodeReply(buf.data(), static_cast<size_t>(n)) : std::nullopt;
    if (!reply)
        return false;
    *error = reply->error;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if ((mode == "hold" || mode == "fill") && argc == 5) {
        const std::string path = std::string(argv[2]) + "/" + argv[3];
        return mode == "hold" ? hold(path, std::atol(argv[4])) : fill(path, std::atol(argv[4]));
    }
    if (mode == "hammer" && argc == 4)
        return hammer(argv[2], std::atol(argv[3]));
    if (mode == "netns" && argc == 3)
        return namespaces(std::atol(argv[2]));
    if (argc != 3)
        return 2;
    alarm(240);
    const std::string dir = argv[1];
    const long count = std::atol(argv[2]);
    std::mt19937 rng(12345);
    const uint32_t codes[] = {fs::CodeProcessPathsFirst,
                              fs::CodeProcessPathsNext,
                              fs::CodeConnectionsFirst,
                              fs::CodeConnectionsNext,
                              fs::CodeBlock,
                              fs::CodeUnblock};
    int fd = -1;
    long sent = 0, replies = 0, reconnects = 0, leftMidway = 0;
    for (long i = 0; i < count; ++i) {
        if (fd < 0 || i % 997 == 0) {
            if (fd >= 0)
                close(fd);
            fd = connectTo(dir + "/" +
                           (rng() % 2 ? fs::ReadWriteSocketName : fs::ReadOnlySocketName));
            ++reconnects;
            if (fd < 0) {
                std::printf("connect failed at request %ld\n", i);
                return 1;
            }
        }
        std::vector<uint8_t> input(rng() % 80);
        for (auto& b : input)
            b = static_cast<uint8_t>(rng() % 3 ? rng() : 0);
        const uint32_t code = rng() % 5 ? codes[rng() % 6] : static_cast<uint32_t>(rng());
        std::vector<uint8_t> msg =
            fs::encodeRequest(code, rng() % 3 ? 4096 : rng(), input.data(), input.size());
        switch (rng() % 8) {
        case 0:
            msg.resize(rng() % msg.size()); // cut short, possibly empty
            break;
        case 1:
            msg.resize(fs::MaxRequestInput + 100, 0xAB); // larger than any request may be
            break;
        case 2:
            msg[8] = static_cast<uint8_t>(rng()); // input length that does not add up
            break;
        default:
            break;
        }
        ++sent;
        if (rng() % 500 == 0) {
            // Ask for a list and leave before reading it.
            const auto big = fs::encodeRequest(fs::CodeConnectionsFirst, 65536, nullptr, 0);
            send(fd, big.data(), big.size(), MSG_NOSIGNAL);
            close(fd);
            fd = -1;
            ++leftMidway;
            continue;
        }
        uint32_t error = 0;
        if (!exchange(fd, msg, &error)) {
            // An empty message reads as the peer's end on a seqpacket socket: the service may
            // hang up on it. Anything else must be answered.
            close(fd);
            fd = -1;
            if (!msg.empty()) {
                std::printf("no reply at request %ld (code %u, %zu bytes)\n", i, code, msg.size());
                return 1;
            }
            continue;
        }
        ++replies;
    }
    std::printf("sent=%ld replies=%ld reconnects=%ld left=%ld\n", sent, replies, reconnects,
                leftMidway);
    return 0;
}

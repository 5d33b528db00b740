// SPDX-License-Identifier: GPL-3.0-or-later
// Traffic of known size for the filter service's tests. Every mode ends by itself (an alarm
// bounds it) and prints key=value lines.
//   tgen tcp-server PORT REPLYBYTES          accept one client, read to its end, answer, close
//   tgen tcp-client HOST PORT SEND RECV HOLDMS
//   tgen tcp-sink PORT SECONDS               accept clients and read them until SECONDS pass
//   tgen tcp-loop HOST PORT CHUNK STEPS STEPMS   send CHUNK every STEPMS, report each step
//   tgen udp-server PORT COUNT SIZE          receive COUNT datagrams, echo each with SIZE bytes
//   tgen udp-client HOST PORT COUNT SIZE     send COUNT datagrams of SIZE, read the echoes
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

sockaddr_in address(const char* host, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    return a;
}

sockaddr* asAddr(sockaddr_in& a)
{
    return reinterpret_cast<sockaddr*>(&a);
}

int listener(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = address("0.0.0.0", port);
    if (bind(fd, asAddr(a), sizeof a) != 0 || listen(fd, 16) != 0) {
        std::printf("listen=-1 %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::printf("listening port=%d\n", port);
    return fd;
}

bool sendAll(int fd, size_t bytes)
{
    std::vector<char> buf(65536, 'x');
    while (bytes > 0) {
        const size_t n = std::min(bytes, buf.size());
        const ssize_t w = send(fd, buf.data(), n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        bytes -= static_cast<size_t>(w);
    }
    return true;
}

size_t readToEnd(int fd)
{
    std::vector<char> buf(65536);
    size_t total = 0;
    for (;;) {
        const ssize_t r = recv(fd, buf.data(), buf.size(), 0);
        if (r <= 0)
            return total;
        total += static_cast<size_t>(r);
    }
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    alarm(60);
    const std::string mode = argc > 1 ? argv[1] : "";
    auto arg = [&](int i) { return i < argc ? std::atoll(argv[i]) : 0; };
    if (mode == "tcp-server" && argc == 4) {
        const int l = listener(static_cast<int>(arg(2)));
        const int c = accept(l, nullptr, nullptr);
        const size_t got = readToEnd(c);
        const bool ok = sendAll(c, static_cast<size_t>(arg(3)));
        std::printf("received=%zu replied=%d\n", got, ok ? 1 : 0);
        close(c);
        close(l);
        return 0;
    }
    if (mode == "tcp-client" && argc == 7) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = address(argv[2], static_cast<int>(arg(3)));
        if (connect(fd, asAddr(a), sizeof a) != 0) {
            std::printf("connect=-1 %s\n", std::strerror(errno));
            return 1;
        }
        const bool ok = sendAll(fd, static_cast<size_t>(arg(4)));
        shutdown(fd, SHUT_WR);
        const size_t got = readToEnd(fd);
        std::printf("sent=%d received=%zu\n", ok ? static_cast<int>(arg(4)) : -1, got);
        if (arg(6) > 0)
            usleep(static_cast<useconds_t>(arg(6) * 1000));
        close(fd);
        std::printf("closed\n");
        return got == static_cast<size_t>(arg(5)) && ok ? 0 : 1;
    }
    if (mode == "tcp-sink" && argc == 4) {
        alarm(static_cast<unsigned>(arg(3)) + 5);
        const int l = listener(static_cast<int>(arg(2)));
        std::vector<pollfd> fds{{l, POLLIN, 0}};
        std::vector<char> buf(65536);
        const long long rounds = arg(3) * 10;
        for (long long i = 0; i < rounds; ++i) {
            if (poll(fds.data(), fds.size(), 100) <= 0)
                continue;
            for (size_t k = 0; k < fds.size(); ++k) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                if (k == 0) {
                    const int c = accept(l, nullptr, nullptr);
                    if (c >= 0)
                        fds.push_back({c, POLLIN, 0});
                } else if (recv(fds[k].fd, buf.data(), buf.size(), 0) <= 0) {
                    close(fds[k].fd);
                    fds[k].fd = -1;
                }
            }
        }
        return 0;
    }
    if (mode == "tcp-loop" && argc == 7) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = address(argv[2], static_cast<int>(arg(3)));
        if (fd < 0 || connect(fd, asAddr(a), sizeof a) != 0) {
            std::printf("connect=-1 %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("connected\n");
        bool broken = false;
        for (long long i = 0; i < arg(5); ++i) {
            usleep(static_cast<useconds_t>(arg(6) * 1000));
            if (!broken) {
                if (sendAll(fd, static_cast<size_t>(arg(4)))) {
                    std::printf("step=%lld send=ok\n", i);
                    continue;
                }
                std::printf("step=%lld send=-1 %s\n", i, std::strerror(errno));
                broken = true;
                close(fd);
                fd = -1;
            }
            // After a cut, try to come back: each step one new connection.
            fd = socket(AF_INET, SOCK_STREAM, 0);
            if (fd < 0) {
                std::printf("step=%lld socket=-1 %s\n", i, std::strerror(errno));
                continue;
            }
            if (connect(fd, asAddr(a), sizeof a) != 0) {
                std::printf("step=%lld connect=-1 %s\n", i, std::strerror(errno));
                close(fd);
                fd = -1;
                continue;
            }
            std::printf("step=%lld reconnected\n", i);
            broken = false;
        }
        if (fd >= 0)
            close(fd);
        return 0;
    }
    if (mode == "udp-server" && argc == 5) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = address("0.0.0.0", static_cast<int>(arg(2)));
        if (bind(fd, asAddr(a), sizeof a) != 0)
            return 1;
        std::printf("listening port=%lld\n", arg(2));
        std::vector<char> buf(65536, 'y');
        size_t got = 0;
        long long n = 0;
        for (; n < arg(3); ++n) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t r = recvfrom(fd, buf.data(), buf.size(), 0, asAddr(from), &len);
            if (r < 0)
                break;
            got += static_cast<size_t>(r);
            sendto(fd, buf.data(), static_cast<size_t>(arg(4)), 0, asAddr(from), len);
        }
        std::printf("received=%zu datagrams=%lld\n", got, n);
        close(fd);
        return 0;
    }
    if (mode == "udp-client" && argc == 6) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = address(argv[2], static_cast<int>(arg(3)));
        std::vector<char> buf(65536, 'z');
        size_t got = 0;
        int sent = 0;
        for (long long i = 0; i < arg(4); ++i) {
            if (sendto(fd, buf.data(), static_cast<size_t>(arg(5)), 0, asAddr(a), sizeof a) < 0) {
                std::printf("sendto=-1 %s\n", std::strerror(errno));
                continue;
            }
            ++sent;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) > 0) {
                const ssize_t r = recv(fd, buf.data(), buf.size(), 0);
                if (r > 0)
                    got += static_cast<size_t>(r);
            }
        }
        std::printf("sent=%d received=%zu\n", sent, got);
        close(fd);
        return 0;
    }
    std::fprintf(stderr, "tgen: bad arguments\n");
    return 2;
}

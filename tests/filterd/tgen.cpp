// SPDX-License-Identifier: GPL-3.0-or-later
// Traffic of known size for the filter service's tests. Every mode ends by itself (an alarm
// bounds it) and prints key=value lines.
//   tgen tcp-server PORT REPLYBYTES          accept one client, read to its end, answer, close
//   tgen tcp-client HOST PORT SEND RECV HOLDMS
//   tgen tcp-answer PORT EXPECT REPLY       read EXPECT bytes, answer REPLY, read to the end
//   tgen tcp-hold HOST PORT SEND RECV HOLDMS send, read the answer, keep the connection open
//   tgen tcp-sink PORT SECONDS               accept clients and read them until SECONDS pass
//   tgen tcp-loop HOST PORT CHUNK STEPS STEPMS   send CHUNK every STEPMS, report each step
//   tgen udp-server PORT COUNT SIZE          receive COUNT datagrams, echo each with SIZE bytes
//   tgen udp-client HOST PORT COUNT SIZE     send COUNT datagrams of SIZE, read the echoes
//   tgen share-listen PORT EXE SECONDS       listen, start "EXE hold SECONDS" holding the
//                                            listener too, and serve clients until SECONDS pass
//   tgen udp-shared HOST PORT COUNT SIZE     one UDP socket shared across fork: parent and child
//                                            take turns, COUNT datagrams each, the child's twice
//                                            SIZE; prints the child's pid
//   tgen tcp-steps PORT WORKER E:R...       accept one client and, per step, read E bytes and
//                                            answer R, then read to the end; WORKER 1 serves it
//                                            in a forked child (prints its pid), 0 in-process
//   tgen tcp-handoff fork|pass HOST PORT A RA B RB
//                                            connect, send A and read RA, then hand the socket
//                                            on (to a forked child that shares it, or over a
//                                            Unix socket to a child forked before it existed),
//                                            which sends B and reads RB; prints the child's pid
//   tgen udp-churn HOST PORT COUNT CYCLE SECONDS
//                                            COUNT processes one after another, each sending one
//                                            datagram of 1100 to 2100 bytes and ending; the
//                                            kernel is steered to hand out the same CYCLE pids
//                                            over and over (ns_last_pid); stops after SECONDS;
//                                            prints each pid's last holder and what it sent
//   tgen tcp-many HOST PORT N BYTES          open N connections at once, send BYTES on each,
//                                            then close them all
//   tgen hold SECONDS                        keep the inherited descriptors, then end
//   tgen forge-destroy COOKIE BYTES SECONDS  multicast TCP destroy notifications naming the
//                                            socket COOKIE (hex) with BYTES received, 10 a second
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

// An IPv4 or IPv6 address; servers listen on both families at once.
struct Address
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family() const { return storage.ss_family; }
};

Address address(const char* host, int port)
{
    Address a;
    if (std::strchr(host, ':')) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, host, &v6->sin6_addr);
        a.length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host, &v4->sin_addr);
        a.length = sizeof *v4;
    }
    return a;
}

sockaddr* asAddr(Address& a)
{
    return reinterpret_cast<sockaddr*>(&a.storage);
}

int dualStack(int type)
{
    const int fd = socket(AF_INET6, type, 0);
    int zero = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    return fd;
}

int listener(int port)
{
    const int fd = dualStack(SOCK_STREAM);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    Address a = address("::", port);
    if (bind(fd, asAddr(a), a.length) != 0 || listen(fd, 16) != 0) {
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

size_t readExactly(int fd, size_t want)
{
    std::vector<char> buf(65536);
    size_t total = 0;
    while (total < want) {
        const ssize_t r = recv(fd, buf.data(), std::min(buf.size(), want - total), 0);
        if (r <= 0)
            break;
        total += static_cast<size_t>(r);
    }
    return total;
}

// One exchange: send, then read the answer in full.
bool exchange(int fd, long long send, long long answer)
{
    return sendAll(fd, static_cast<size_t>(send)) &&
           readExactly(fd, static_cast<size_t>(answer)) == static_cast<size_t>(answer);
}

bool sendDescriptor(int over, int fd)
{
    char byte = 'f';
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr m{};
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    return sendmsg(over, &m, 0) == 1;
}

int receiveDescriptor(int over)
{
    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr m{};
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    if (recvmsg(over, &m, 0) != 1)
        return -1;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    if (!c || c->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
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

// CYCLE free pids in a row for the churn to be steered onto: well above ours where pid_max
// leaves room, so the run seldom meets a process of somebody else later; else from the bottom,
// where the kernel goes on after a wrap. A run past pid_max would never be handed out (the
// steering write fails), and no pid would be reused.
long long freePidRun(long long cycle)
{
    long long pidMax = 32768;
    if (FILE* f = std::fopen("/proc/sys/kernel/pid_max", "r")) {
        if (std::fscanf(f, "%lld", &pidMax) != 1)
            pidMax = 32768;
        std::fclose(f);
    }
    const auto freeRun = [cycle](long long base) {
        for (long long p = base; p < base + cycle; ++p)
            if (kill(static_cast<pid_t>(p), 0) == 0 || errno != ESRCH)
                return false;
        return true;
    };
    for (long long base = getpid() + 1000; base + cycle < pidMax; base += cycle)
        if (freeRun(base))
            return base;
    for (long long base = 1000; base + cycle < pidMax; base += cycle)
        if (freeRun(base))
            return base;
    return getpid() + 1000;
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
        Address a = address(argv[2], static_cast<int>(arg(3)));
        const int fd = socket(a.family(), SOCK_STREAM, 0);
        if (fd < 0) {
            std::printf("socket=-1 %s\n", std::strerror(errno));
            return 1;
        }
        if (connect(fd, asAddr(a), a.length) != 0) {
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
    if (mode == "tcp-answer" && argc == 5) {
        const int l = listener(static_cast<int>(arg(2)));
        const int c = accept(l, nullptr, nullptr);
        const size_t got = readExactly(c, static_cast<size_t>(arg(3)));
        const bool ok = sendAll(c, static_cast<size_t>(arg(4)));
        const size_t rest = readToEnd(c);
        std::printf("received=%zu replied=%d rest=%zu\n", got, ok ? 1 : 0, rest);
        close(c);
        close(l);
        return 0;
    }
    if (mode == "tcp-hold" && argc == 7) {
        Address a = address(argv[2], static_cast<int>(arg(3)));
        const int fd = socket(a.family(), SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, asAddr(a), a.length) != 0) {
            std::printf("connect=-1 %s\n", std::strerror(errno));
            return 1;
        }
        const bool ok = sendAll(fd, static_cast<size_t>(arg(4)));
        const size_t got = readExactly(fd, static_cast<size_t>(arg(5)));
        std::printf("sent=%d received=%zu holding\n", ok ? static_cast<int>(arg(4)) : -1, got);
        usleep(static_cast<useconds_t>(arg(6) * 1000));
        close(fd);
        std::printf("closed\n");
        return 0;
    }
    if (mode == "tcp-sink" && argc == 4) {
        alarm(static_cast<unsigned>(arg(3)) + 5);
        const int l = listener(static_cast<int>(arg(2)));
        std::vector<pollfd> fds{{l, POLLIN, 0}};
        std::vector<char> buf(65536);
        // Until the wall-clock deadline, however busy the clients keep it.
        const time_t deadline = time(nullptr) + static_cast<time_t>(arg(3));
        for (long long i = 0; i < 1000000 && time(nullptr) < deadline; ++i) {
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
        Address a = address(argv[2], static_cast<int>(arg(3)));
        int fd = socket(a.family(), SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, asAddr(a), a.length) != 0) {
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
            fd = socket(a.family(), SOCK_STREAM, 0);
            if (fd < 0) {
                std::printf("step=%lld socket=-1 %s\n", i, std::strerror(errno));
                continue;
            }
            if (connect(fd, asAddr(a), a.length) != 0) {
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
        const int fd = dualStack(SOCK_DGRAM);
        Address a = address("::", static_cast<int>(arg(2)));
        if (bind(fd, asAddr(a), a.length) != 0)
            return 1;
        std::printf("listening port=%lld\n", arg(2));
        std::vector<char> buf(65536, 'y');
        size_t got = 0;
        long long n = 0;
        for (; n < arg(3); ++n) {
            Address from;
            socklen_t len = sizeof from.storage;
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
        Address a = address(argv[2], static_cast<int>(arg(3)));
        const int fd = socket(a.family(), SOCK_DGRAM, 0);
        std::vector<char> buf(65536, 'z');
        size_t got = 0;
        int sent = 0;
        for (long long i = 0; i < arg(4); ++i) {
            if (sendto(fd, buf.data(), static_cast<size_t>(arg(5)), 0, asAddr(a), a.length) < 0) {
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
    if (mode == "share-listen" && argc == 5) {
        alarm(static_cast<unsigned>(arg(4)) + 5);
        const int l = listener(static_cast<int>(arg(2))); // inherited: no close-on-exec
        const pid_t child = fork();
        if (child == 0) {
            const std::string seconds = std::to_string(arg(4));
            execl(argv[3], argv[3], "hold", seconds.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::printf("sharer=%d\n", static_cast<int>(child));
        const time_t deadline = time(nullptr) + static_cast<time_t>(arg(4));
        for (int served = 0; served < 100 && time(nullptr) < deadline;) {
            pollfd p{l, POLLIN, 0};
            const int r = poll(&p, 1, 100);
            if (r < 0 || (r > 0 && !(p.revents & POLLIN))) {
                std::printf("listener=gone\n");
                break;
            }
            if (r == 0)
                continue;
            const int c = accept(l, nullptr, nullptr);
            if (c < 0) {
                std::printf("accept=-1 %s\n", std::strerror(errno));
                break;
            }
            std::printf("served=%d received=%zu\n", ++served, readToEnd(c));
            close(c);
        }
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        return 0;
    }
    if (mode == "udp-shared" && argc == 6) {
        Address a = address(argv[2], static_cast<int>(arg(3)));
        const int fd = socket(a.family(), SOCK_DGRAM, 0);
        int toChild[2], toParent[2];
        if (fd < 0 || pipe(toChild) != 0 || pipe(toParent) != 0)
            return 1;
        const pid_t child = fork();
        const bool isChild = child == 0;
        const int in = isChild ? toChild[0] : toParent[0];
        const int out = isChild ? toParent[1] : toChild[1];
        const size_t size = static_cast<size_t>(arg(5)) * (isChild ? 2 : 1);
        std::vector<char> buf(size, 's');
        int sent = 0;
        char token = 't';
        if (!isChild)
            std::printf("child=%d\n", static_cast<int>(child));
        // Strict turns, so each datagram leaves while its sender holds the socket.
        for (long long i = 0; i < arg(4); ++i) {
            if ((isChild || i > 0) && read(in, &token, 1) != 1)
                break;
            if (sendto(fd, buf.data(), size, 0, asAddr(a), a.length) == static_cast<ssize_t>(size))
                ++sent;
            if (write(out, &token, 1) != 1)
                break;
        }
        std::printf("%s sent=%d\n", isChild ? "child" : "parent", sent);
        if (isChild)
            _exit(0);
        waitpid(child, nullptr, 0);
        return 0;
    }
    if (mode == "tcp-steps" && argc >= 5) {
        const int l = listener(static_cast<int>(arg(2)));
        const int c = accept(l, nullptr, nullptr);
        const pid_t worker = arg(3) ? fork() : 0;
        if (worker > 0) {
            // The accepting process hands the connection over and moves nothing itself.
            std::printf("worker=%d\n", static_cast<int>(worker));
            close(c);
            close(l);
            int status = 0;
            waitpid(worker, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
        bool ok = c >= 0;
        for (int i = 4; i < argc && ok; ++i) {
            const char* colon = std::strchr(argv[i], ':');
            ok = colon != nullptr;
            if (!ok)
                break;
            const size_t expect = std::strtoull(argv[i], nullptr, 10);
            ok = readExactly(c, expect) == expect &&
                 sendAll(c, std::strtoull(colon + 1, nullptr, 10));
        }
        std::printf("steps=%d rest=%zu\n", ok ? 1 : 0, readToEnd(c));
        close(c);
        return ok ? 0 : 1;
    }
    if (mode == "tcp-handoff" && argc == 9) {
        const std::string how = argv[2];
        const bool pass = how == "pass";
        if (!pass && how != "fork")
            return 2;
        Address a = address(argv[3], static_cast<int>(arg(4)));
        int pair[2] = {-1, -1};
        if (pass && socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
            return 1;
        // Passed: the child exists before the socket, so only the descriptor sent makes it its.
        pid_t child = pass ? fork() : -1;
        if (child == 0) {
            close(pair[0]);
            const int fd = receiveDescriptor(pair[1]);
            const bool ok = fd >= 0 && exchange(fd, arg(7), arg(8));
            std::printf("child moved=%d\n", ok ? 1 : 0);
            shutdown(fd, SHUT_WR);
            _exit(ok ? 0 : 1);
        }
        const int fd = socket(a.family(), SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, asAddr(a), a.length) != 0 || !exchange(fd, arg(5), arg(6))) {
            std::printf("connect=-1 %s\n", std::strerror(errno));
            return 1;
        }
        std::printf("parent moved=1\n");
        if (pass) {
            if (!sendDescriptor(pair[0], fd))
                return 1;
            close(fd);
        } else {
            // Shared: the parent keeps its descriptor while the child uses the socket.
            child = fork();
            if (child == 0) {
                const bool ok = exchange(fd, arg(7), arg(8));
                std::printf("child moved=%d\n", ok ? 1 : 0);
                shutdown(fd, SHUT_WR);
                _exit(ok ? 0 : 1);
            }
        }
        std::printf("child=%d\n", static_cast<int>(child));
        int status = 0;
        waitpid(child, &status, 0);
        if (!pass)
            close(fd);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    if (mode == "udp-churn" && argc == 7) {
        alarm(static_cast<unsigned>(arg(6)) + 10);
        Address a = address(argv[2], static_cast<int>(arg(3)));
        const long long cycle = std::max(1LL, arg(5));
        const long long base = freePidRun(cycle);
        std::map<pid_t, size_t> last;
        std::vector<char> buf(2100, 'c');
        const time_t deadline = time(nullptr) + static_cast<time_t>(arg(6));
        long long forks = 0, reused = 0;
        for (; forks < arg(4) && time(nullptr) < deadline; ++forks) {
            const size_t size = 1100 + 200 * static_cast<size_t>(forks % 6);
            if (FILE* f = std::fopen("/proc/sys/kernel/ns_last_pid", "w")) {
                std::fprintf(f, "%lld", base + forks % cycle - 1);
                std::fclose(f);
            }
            const pid_t child = fork();
            if (child < 0)
                break;
            if (child == 0) {
                const int fd = socket(a.family(), SOCK_DGRAM, 0);
                const bool ok = sendto(fd, buf.data(), size, 0, asAddr(a), a.length) ==
                                static_cast<ssize_t>(size);
                _exit(ok ? 0 : 1);
            }
            int status = 0;
            waitpid(child, &status, 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                continue;
            reused += last.count(child) ? 1 : 0;
            last[child] = size;
        }
        // Later processes of the machine go past the cycle, not onto its pids.
        if (FILE* f = std::fopen("/proc/sys/kernel/ns_last_pid", "w")) {
            std::fprintf(f, "%lld", base + cycle + 1000);
            std::fclose(f);
        }
        std::printf("forks=%lld reused=%lld pids=%zu\n", forks, reused, last.size());
        for (const auto& [pid, size] : last)
            std::printf("last pid=%d out=%zu\n", static_cast<int>(pid), size);
        return 0;
    }
    if (mode == "tcp-many" && argc == 6) {
        Address a = address(argv[2], static_cast<int>(arg(3)));
        std::vector<int> fds;
        int sent = 0;
        for (long long i = 0; i < arg(4) && i < 4096; ++i) {
            const int fd = socket(a.family(), SOCK_STREAM, 0);
            if (fd < 0 || connect(fd, asAddr(a), a.length) != 0) {
                std::printf("connect=-1 %s\n", std::strerror(errno));
                if (fd >= 0)
                    close(fd);
                break;
            }
            fds.push_back(fd);
        }
        for (int fd : fds)
            sent += sendAll(fd, static_cast<size_t>(arg(5))) ? 1 : 0;
        for (int fd : fds)
            close(fd);
        std::printf("opened=%zu sent=%d\n", fds.size(), sent);
        return 0;
    }
    if (mode == "hold" && argc == 3) {
        std::printf("holding\n");
        sleep(static_cast<unsigned>(arg(2)));
        return 0;
    }
    if (mode == "forge-destroy" && argc == 5) {
        const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        sockaddr_nl self{};
        self.nl_family = AF_NETLINK;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
            std::printf("netlink=-1 %s\n", std::strerror(errno));
            return 1;
        }
        const uint64_t cookie = std::strtoull(argv[2], nullptr, 16);
        struct
        {
            nlmsghdr h;
            inet_diag_msg m;
            nlattr a;
            tcp_info info;
        } msg{};
        msg.h.nlmsg_len = sizeof msg;
        msg.h.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        msg.m.idiag_family = AF_INET;
        msg.m.idiag_state = 7; // closed
        msg.m.id.idiag_cookie[0] = static_cast<uint32_t>(cookie);
        msg.m.id.idiag_cookie[1] = static_cast<uint32_t>(cookie >> 32);
        msg.a.nla_len = sizeof msg.a + sizeof msg.info;
        msg.a.nla_type = INET_DIAG_INFO;
        msg.info.tcpi_bytes_received = static_cast<uint64_t>(arg(3));
        msg.info.tcpi_bytes_sent = static_cast<uint64_t>(arg(3));
        sockaddr_nl to{};
        to.nl_family = AF_NETLINK;
        to.nl_groups = 1u << (SKNLGRP_INET_TCP_DESTROY - 1);
        int sent = 0;
        for (long long i = 0; i < arg(4) * 10; ++i) {
            if (sendto(fd, &msg, sizeof msg, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(sizeof msg))
                ++sent;
            else if (i == 0)
                std::printf("sendto=-1 %s\n", std::strerror(errno));
            usleep(100000);
        }
        std::printf("forged=%d\n", sent);
        return sent > 0 ? 0 : 1;
    }
    std::fprintf(stderr, "tgen: bad arguments\n");
    return 2;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The filter service's reply cost: a connection-list read by the library (built by filterd and
// sent over its socket) with 2000 open loopback sockets, and filterd's CPU use at one read per
// second with 200 sockets, and the same read and a fresh open while 3000 hostile connections
// (30 ordinary users, 100 each) are held on the read-only socket. Starts its own filterd on a
// private socket folder; needs root.
#include "../../tests/lib/heldchild.h"
#include "flow/psfilter.h"
#include "platform/linux/filterclient.h"
#include "platform/platform.h"
#include "protocol.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Opens pairs of connected loopback TCP sockets, each with a byte sent both ways so the
// service counts it.
bool openPairs(int pairs, std::vector<int>& fds)
{
    const int l = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 4096) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return false;
    for (int i = 0; i < pairs; ++i) {
        const int c = socket(AF_INET, SOCK_STREAM, 0);
        if (c < 0 || connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return false;
        const int s = accept(l, nullptr, nullptr);
        if (s < 0)
            return false;
        char b = 'x';
        if (send(c, &b, 1, 0) != 1 || recv(s, &b, 1, 0) != 1 || send(s, &b, 1, 0) != 1 ||
            recv(c, &b, 1, 0) != 1)
            return false;
        fds.push_back(c);
        fds.push_back(s);
    }
    close(l);
    return true;
}

double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    std::string f;
    for (char ch : text.substr(close + 2)) {
        if (ch == ' ') {
            fields.push_back(f);
            f.clear();
        } else {
            f.push_back(ch);
        }
    }
    if (fields.size() < 13)
        return 0;
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Processes of `users` ordinary users (uids from 61000) that each hold `each` connections to
// the read-only socket until killed; returns their pids and how many sessions were granted.
std::vector<pid_t> holdHostile(const std::string& socketPath, int users, int each, int& granted)
{
    std::vector<pid_t> pids;
    granted = 0;
    for (int u = 0; u < users; ++u) {
        int mine = 0;
        const pid_t child = forkHolding(mine, [&](int& count) {
            const uid_t uid = static_cast<uid_t>(61000 + u);
            if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
                setresuid(uid, uid, uid) != 0)
                return false;
            for (int i = 0; i < each; ++i) {
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
                const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
                if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                    continue; // the socket stays open until the child is killed
                uint8_t hello[8];
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 2000) > 0 && recv(fd, hello, sizeof hello, 0) == 8 &&
                    hello[0] == 0 && hello[1] == 0 && hello[2] == 0 && hello[3] == 0)
                    ++count;
            }
            return true;
        });
        if (child > 0) {
            pids.push_back(child);
            granted += mine;
        }
    }
    return pids;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (geteuid() != 0) {
        std::fprintf(stderr, "filter_reply: needs root (it runs its own filterd)\n");
        return 1;
    }
    const std::string binDir = argc > 1 ? argv[1] : VB_BIN_DIR;
    char dirTemplate[] = "/tmp/vbbench.XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    // Ordinary users must reach the read-only socket inside.
    chmod(dir.c_str(), 0755);
    const std::string sockDir = dir + "/sock";
    rlimit lim{16384, 16384};
    setrlimit(RLIMIT_NOFILE, &lim);

    const pid_t filterd = fork();
    if (filterd == 0) {
        execl((binDir + "/wfp/x64/filterd").c_str(), "filterd", "--socket-dir", sockDir.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto device = std::make_shared<vb::platform::linux_::SocketFilterDevice>(sockDir);
    std::unique_ptr<PSFilter> filter;
    for (int i = 0; i < 100; ++i) {
        filter = std::make_unique<PSFilter>(device);
        if (filter->accessMode() == 2)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    int rc = 0;
    if (filter->accessMode() != 2) {
        std::fprintf(stderr, "filter_reply: filterd did not come up\n");
        rc = 1;
    }

    // In-process: filterd's protocol building the reply chunks for 2000 sockets.
    if (rc == 0) {
        class Fixed : public filterd::Backend
        {
        public:
            std::vector<filterd::ConnectionDataItem> live;
            bool connections(std::vector<filterd::ConnectionDataItem>& l,
                             std::vector<filterd::ConnectionDataHistoryItem>&) override
            {
                l = live;
                return true;
            }
            void processPaths(std::vector<filterd::ProcessPath>&) override {}
            uint32_t block(const std::string&) override { return 0; }
            uint32_t unblock(const std::string&) override { return 0; }
        } fixed;
        fixed.live.resize(2000, filterd::ConnectionDataItem{1, 2, 3, 4, 5, 6, 7, 8});
        filterd::Session session(fixed, filterd::Access::ReadOnly);
        std::vector<double> times;
        for (int round = 0; round < 200; ++round) {
            const auto t0 = Clock::now();
            auto r = session.handle(filterd::CodeConnectionsFirst, nullptr, 0, 4096);
            while (r.error == filterd::ErrMoreData)
                r = session.handle(filterd::CodeConnectionsNext, nullptr, 0, 4096);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("reply_build_only_2000_sockets_ms %.3f\n", median(times));
    }

    std::vector<int> fds;
    if (rc == 0 && !openPairs(100, fds)) {
        std::fprintf(stderr, "filter_reply: cannot open sockets\n");
        rc = 1;
    }
    if (rc == 0) {
        // One read per second with 200 sockets, as the sampling worker reads.
        const int seconds = 10;
        const double cpu0 = cpuSeconds(filterd);
        const auto t0 = Clock::now();
        size_t seen = 0;
        for (int i = 0; i < seconds; ++i) {
            seen = 0;
            filter->queryConnections([&](const ConnectionDataItem&) { ++seen; }, nullptr);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = cpuSeconds(filterd) - cpu0;
        std::printf("sockets_listed_at_200 %zu\n", seen);
        std::printf("filterd_cpu_percent_1_read_per_s_200_sockets %.3f\n", 100.0 * cpu / wall);
    }
    if (rc == 0 && !openPairs(900, fds)) {
        std::fprintf(stderr, "filter_reply: cannot open 2000 sockets\n");
        rc = 1;
    }
    if (rc == 0) {
        std::vector<double> times;
        size_t seen = 0;
        for (int round = 0; round < 100; ++round) {
            seen = 0;
            const auto t0 = Clock::now();
            const bool ok =
                filter->queryConnections([&](const ConnectionDataItem&) { ++seen; }, nullptr);
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (!ok)
                rc = 1;
        }
        std::printf("sockets_listed_at_2000 %zu\n", seen);
        std::printf("connection_reply_2000_sockets_ms %.3f\n", median(times));
    }
    if (rc == 0) {
        // The same reads by root while ordinary users hold 3000 connections.
        int granted = 0;
        const auto hostile = holdHostile(sockDir + "/readonly", 30, 100, granted);
        std::vector<double> times;
        for (int round = 0; round < 100; ++round) {
            const auto t0 = Clock::now();
            if (!filter->queryConnections(nullptr, nullptr))
                rc = 1;
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::vector<double> opens;
        for (int round = 0; round < 20; ++round) {
            const auto t0 = Clock::now();
            PSFilter fresh(device);
            if (fresh.accessMode() != 2)
                rc = 1;
            opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        std::printf("hostile_sessions_granted_of_3000 %d\n", granted);
        std::printf("connection_reply_2000_sockets_3000_hostile_ms %.3f\n", median(times));
        std::printf("connection_reply_2000_sockets_3000_hostile_max_ms %.3f\n",
                    *std::max_element(times.begin(), times.end()));
        std::printf("root_open_3000_hostile_ms %.3f\n", median(opens));
        for (pid_t p : hostile) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
    }
    for (int fd : fds)
        close(fd);
    filter.reset();
    kill(filterd, SIGTERM);
    waitpid(filterd, nullptr, 0);
    rmdir(sockDir.c_str());
    rmdir(dir.c_str());
    return rc;
}

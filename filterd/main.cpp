// SPDX-License-Identifier: GPL-3.0-or-later
// filterd: the traffic filter service. Measures per-socket and per-process traffic, blocks the
// traffic of processes by image path, and answers the filter device's control codes on two
// Unix sockets. Everything it installs in the kernel goes away when it stops.
#include "filterwire/framing.h"
#include "server.h"
#include "traffic.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace filterd;

namespace {

// Debian and Ubuntu desktops make their administrators members of "sudo", others of "wheel".
const char* const DefaultAdminGroups[] = {"sudo", "wheel", "admin"};

void usage()
{
    std::fprintf(stderr, "usage: filterd [--socket-dir DIR] [--admin-group NAME] [--mechanism "
                         "auto|bpf|diag]\n"
                         "               [--cgroup DIR] [--pidfile FILE] [--supervise]\n"
                         "               [--idle-timeout SECONDS] [--state-dir DIR]\n"
                         "               [--release-authority PROGRAM] [--release-auth-timeout "
                         "SECONDS]\n"
                         "               [--release-pause SECONDS] [--table-size ENTRIES]\n");
}

bool writePidFile(const std::string& path)
{
    if (path.empty())
        return true;
    const std::string tmp = path + ".new";
    FILE* f = std::fopen(tmp.c_str(), "we");
    if (!f)
        return false;
    std::fprintf(f, "%d\n", static_cast<int>(getpid()));
    std::fclose(f);
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

volatile sig_atomic_t g_stop = 0;
void onStop(int)
{
    g_stop = 1;
}

// Keeps one service process running: restarts it when it dies on its own, gives up after
// five deaths within ten seconds, and passes a stop request on.
int supervise(std::vector<std::string> args, const std::string& pidFile)
{
    writePidFile(pidFile);
    struct sigaction sa
    {
    };
    sa.sa_handler = onStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::vector<std::chrono::steady_clock::time_point> deaths;
    int status = 0;
    while (!g_stop) {
        const pid_t child = fork();
        if (child < 0)
            return 1;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            std::vector<char*> argv;
            argv.reserve(args.size() + 1);
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv("/proc/self/exe", argv.data());
            _exit(127);
        }
        while (waitpid(child, &status, 0) < 0) {
            if (errno != EINTR)
                break;
            if (g_stop)
                kill(child, SIGTERM);
        }
        if (g_stop)
            break;
        const auto now = std::chrono::steady_clock::now();
        deaths.push_back(now);
        while (!deaths.empty() && now - deaths.front() > std::chrono::seconds(10))
            deaths.erase(deaths.begin());
        if (deaths.size() >= 5) {
            std::fprintf(stderr, "filterd: service keeps failing, supervisor gives up\n");
            break;
        }
        std::fprintf(stderr, "filterd: service ended (status %d), restarting\n", status);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    if (!pidFile.empty())
        unlink(pidFile.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string socketDir = vb::filterwire::DefaultSocketDirectory;
    std::string adminGroup;
    std::string mechanism = "auto";
    std::string cgroupDir;
    std::string pidFile;
    std::string idleSeconds = "30";
    std::string stateDir = "/var/lib/filterd";
    ReleaseOptions release;
    std::string authSeconds = "25";
    std::string pauseSeconds = "10";
    // The kernel tables' size; smaller than built in only to see them overflow (tests).
    std::string tableSize = "0";
    bool superviseMode = false;
    std::vector<std::string> childArgs{"filterd"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            childArgs.push_back(a);
            childArgs.push_back(into);
            return true;
        };
        bool ok = true;
        if (a == "--socket-dir")
            ok = value(socketDir);
        else if (a == "--admin-group")
            ok = value(adminGroup);
        else if (a == "--mechanism")
            ok = value(mechanism);
        else if (a == "--cgroup")
            ok = value(cgroupDir);
        else if (a == "--idle-timeout")
            ok = value(idleSeconds) && std::atoi(idleSeconds.c_str()) > 0;
        else if (a == "--state-dir")
            ok = value(stateDir);
        else if (a == "--release-authority")
            ok = value(release.authority) && !release.authority.empty() &&
                 release.authority[0] == '/';
        else if (a == "--release-auth-timeout")
            ok = value(authSeconds) && std::atoi(authSeconds.c_str()) > 0;
        else if (a == "--release-pause")
            ok = value(pauseSeconds) && std::atoi(pauseSeconds.c_str()) >= 0;
        else if (a == "--table-size")
            ok = value(tableSize) && std::atoi(tableSize.c_str()) >= 16 &&
                 std::atoi(tableSize.c_str()) <= 65536;
        else if (a == "--pidfile") {
            ok = i + 1 < argc;
            if (ok)
                pidFile = argv[++i];
        } else if (a == "--supervise")
            superviseMode = true;
        else
            ok = false;
        if (!ok || (mechanism != "auto" && mechanism != "bpf" && mechanism != "diag")) {
            usage();
            return 2;
        }
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "filterd: must run as root\n");
        return 1;
    }
    if (superviseMode)
        return supervise(childArgs, pidFile);
    // Sessions are budgeted far below this; the rest is for the kernel interfaces.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::max(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 65536));
        setrlimit(RLIMIT_NOFILE, &files);
    }

    gid_t adminGid = 0;
    if (!adminGroup.empty()) {
        const group* g = getgrnam(adminGroup.c_str());
        if (!g) {
            std::fprintf(stderr, "filterd: no group %s\n", adminGroup.c_str());
            return 2;
        }
        adminGid = g->gr_gid;
    } else {
        for (const char* name : DefaultAdminGroups)
            if (const group* g = getgrnam(name)) {
                adminGid = g->gr_gid;
                break;
            }
    }

    std::unique_ptr<TrafficBackend> backend;
    std::string why;
    if (mechanism != "diag") {
        if (cgroupDir.empty())
            cgroupDir = findCgroup2Root();
        backend =
            BpfBackend::start(cgroupDir, static_cast<uint32_t>(std::atoi(tableSize.c_str())), why);
        if (!backend)
            std::fprintf(stderr, "filterd: cgroup BPF unavailable (%s)\n", why.c_str());
    }
    if (!backend && mechanism != "bpf")
        backend = DiagBackend::start(why);
    if (!backend) {
        std::fprintf(stderr, "filterd: no traffic mechanism (%s)\n", why.c_str());
        return 1;
    }
    // Blocks outlive a crash or a restart: they are in force again before any client is served.
    if (mkdir(stateDir.c_str(), 0700) != 0 && errno != EEXIST)
        std::fprintf(stderr, "filterd: no state folder %s: %s\n", stateDir.c_str(),
                     std::strerror(errno));
    backend->keepBlocksIn(stateDir + "/blocks");
    ServerOptions options;
    options.socketDir = socketDir;
    options.adminGroup = adminGid;
    options.idleTimeout = std::chrono::seconds(std::atoi(idleSeconds.c_str()));
    release.authTimeout = std::chrono::seconds(std::atoi(authSeconds.c_str()));
    release.userPause = std::chrono::seconds(std::atoi(pauseSeconds.c_str()));
    options.release = release;
    Server server(*backend, options);
    if (!server.listen(why)) {
        std::fprintf(stderr, "filterd: %s\n", why.c_str());
        return 1;
    }
    writePidFile(pidFile);
    std::fprintf(stderr, "filterd: ready mechanism=%s sockets=%s %s\n", backend->mechanism(),
                 socketDir.c_str(), backend->installed().c_str());
    const int rc = server.run();
    if (!pidFile.empty())
        unlink(pidFile.c_str());
    return rc;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Starts processes holding 1 GiB in all (file-backed and anonymous) in a memory cgroup of
// their own, runs one release over them and measures what left memory by the group's usage;
// then brings the pages back and lets the kernel reclaim the same group (v1 force_empty, or
// v2 memory.reclaim where cgroup v2 has the memory controller). Needs root. The release is
// confined to the benchmark's own processes.
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/linux/procfsmemory.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/platform.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kProcesses = 4;
constexpr size_t kFileMb = 192; // per process
constexpr size_t kAnonMb = 64;  // per process: 4 x 256 MiB = 1 GiB in all

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool writeFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

uint64_t statusKb(pid_t pid, const char* key)
{
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    const std::string k = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.compare(0, k.size(), k) == 0)
            return std::strtoull(line.c_str() + k.size(), nullptr, 10);
    return 0;
}

struct Group
{
    std::string path;
    bool v2 = false;
    uint64_t usage() const
    {
        return std::strtoull(
            readFile(path + (v2 ? "/memory.current" : "/memory.usage_in_bytes")).c_str(), nullptr,
            10);
    }
};

// A cgroup for the holders beside this process's own memory group.
bool makeGroup(Group& g)
{
    const std::string unified = "/sys/fs/cgroup/unified";
    const std::string v2root = ::access((unified + "/cgroup.controllers").c_str(), R_OK) == 0
                                   ? unified
                                   : std::string("/sys/fs/cgroup");
    const std::string name = "vb_bench_release_" + std::to_string(::getpid());
    std::istringstream self(readFile("/proc/self/cgroup"));
    std::string line, v1path, v2path;
    while (std::getline(self, line)) {
        if (line.find(":memory:") != std::string::npos)
            v1path = line.substr(line.find(":memory:") + 8);
        if (line.compare(0, 3, "0::") == 0)
            v2path = line.substr(3);
    }
    if (readFile(v2root + v2path + "/cgroup.controllers").find("memory") != std::string::npos) {
        g.v2 = true;
        g.path = v2root + v2path + "/" + name;
    } else if (!v1path.empty()) {
        g.path = "/sys/fs/cgroup/memory" + (v1path == "/" ? std::string() : v1path) + "/" + name;
    } else {
        return false;
    }
    return ::mkdir(g.path.c_str(), 0755) == 0;
}

volatile sig_atomic_t g_touch = 0;
volatile sig_atomic_t g_stop = 0;

long touchAll(volatile char* file, size_t fileBytes, volatile char* anon, size_t anonBytes)
{
    long sum = 0;
    for (size_t i = 0; i < fileBytes; i += 4096)
        sum += file[i];
    for (size_t i = 0; i < anonBytes; i += 4096)
        sum += anon[i];
    return sum;
}

// The holder's life, in a forked child: join the group, hold the memory, touch it again on
// SIGUSR1 (and say so through the pipe), end on SIGTERM.
[[noreturn]] void holder(const Group& g, const std::string& file, int reportFd)
{
    std::signal(SIGUSR1, [](int) { g_touch = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    if (!writeFile(g.path + "/cgroup.procs", std::to_string(::getpid())))
        ::_exit(3);
    const size_t fileBytes = kFileMb << 20, anonBytes = kAnonMb << 20;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(fileBytes)) != 0)
        ::_exit(4);
    std::vector<char> block(1 << 16, 'b');
    for (size_t off = 0; off < fileBytes; off += block.size())
        if (::pwrite(fd, block.data(), block.size(), static_cast<off_t>(off)) < 0)
            ::_exit(5);
    ::fsync(fd);
    auto* f = static_cast<volatile char*>(::mmap(nullptr, fileBytes, PROT_READ, MAP_SHARED, fd, 0));
    auto* a = static_cast<volatile char*>(
        ::mmap(nullptr, anonBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (f == MAP_FAILED || a == MAP_FAILED)
        ::_exit(6);
    for (size_t i = 0; i < anonBytes; i += 4096)
        a[i] = static_cast<char>((i >> 12) | 1);
    touchAll(f, fileBytes, a, anonBytes);
    const char ready = 'r';
    if (::write(reportFd, &ready, 1) != 1)
        ::_exit(7);
    for (int i = 0; i < 3000 && !g_stop; ++i) { // bounded: ten minutes at most
        ::usleep(200000);
        if (g_touch) {
            g_touch = 0;
            touchAll(f, fileBytes, a, anonBytes);
            if (::write(reportFd, &ready, 1) != 1)
                ::_exit(7);
        }
    }
    ::unlink(file.c_str());
    ::_exit(0);
}

bool waitReports(int fd, int n)
{
    for (int got = 0; got < n;) {
        char c;
        const ssize_t r = ::read(fd, &c, 1);
        if (r <= 0)
            return false;
        ++got;
    }
    return true;
}

class ListedProcesses : public vb::platform::linux_::ProcfsProcesses
{
public:
    std::vector<vb::platform::ProcessId> ids;
    bool processIds(std::vector<vb::platform::ProcessId>& out) override
    {
        out = ids;
        return true;
    }
};

// The real clock, noting when the release read it: before and after its emptying.
class TimedMemory : public vb::platform::linux_::ProcfsMemory
{
public:
    std::vector<Clock::time_point> at;
    uint32_t tickCountMs() override
    {
        at.push_back(Clock::now());
        return ProcfsMemory::tickCountMs();
    }
};

double mib(uint64_t bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

} // namespace

int main()
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_memory_release: needs root (a memory cgroup, paging out)\n");
        return 1;
    }
    Group group;
    if (!makeGroup(group)) {
        std::fprintf(stderr, "bench_memory_release: cannot make a memory cgroup\n");
        return 1;
    }
    char dirTemplate[] = "/var/tmp/vb_bench_release.XXXXXX";
    const char* dir = ::mkdtemp(dirTemplate);
    int pipeFds[2];
    if (!dir || ::pipe(pipeFds) != 0) {
        ::rmdir(group.path.c_str());
        return 1;
    }
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            holder(group, std::string(dir) + "/hold" + std::to_string(i) + ".dat", pipeFds[1]);
        }
        if (pid > 0)
            children.push_back(pid);
    }
    ::close(pipeFds[1]);
    int rc = 0;
    auto cleanup = [&] {
        for (pid_t c : children)
            ::kill(c, SIGTERM);
        for (pid_t c : children)
            ::waitpid(c, nullptr, 0);
        ::rmdir(group.path.c_str());
        for (int i = 0; i < kProcesses; ++i)
            ::unlink((std::string(dir) + "/hold" + std::to_string(i) + ".dat").c_str());
        ::rmdir(dir);
    };
    if (static_cast<int>(children.size()) != kProcesses || !waitReports(pipeFds[0], kProcesses)) {
        std::fprintf(stderr, "bench_memory_release: the holders did not start\n");
        cleanup();
        return 1;
    }
    auto rssBytes = [&] {
        uint64_t kb = 0;
        for (pid_t c : children)
            kb += statusKb(c, "VmRSS");
        return kb * 1024;
    };

    auto procs = std::make_shared<ListedProcesses>();
    for (pid_t c : children)
        procs->ids.push_back(static_cast<vb::platform::ProcessId>(c));
    auto memory = std::make_shared<TimedMemory>();
    const vb::memory::ReleaseBackends backends{memory, procs,
                                               vb::platform::makeNative().workingSets};

    // One release, as the ball runs it.
    const uint64_t held = rssBytes();
    const uint64_t before = group.usage();
    std::promise<quint64> reported;
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    QObject::connect(
        notifier.get(), &EmptingMemorySetNotifyer::finished, notifier.get(),
        [&reported](quint64 bytes) { reported.set_value(bytes); }, Qt::DirectConnection);
    const auto t0 = Clock::now();
    auto gain = reported.get_future();
    if (!vb::memory::startEmptingMemorySet(std::move(notifier), backends)) {
        cleanup();
        return 1;
    }
    const quint64 reportedBytes = gain.get();
    const auto t1 = Clock::now();
    const uint64_t afterOurs = group.usage();
    const uint64_t rssOurs = rssBytes();
    const uint64_t freedOurs = before > afterOurs ? before - afterOurs : 0;
    const double emptyingMs =
        memory->at.size() == 2
            ? std::chrono::duration<double, std::milli>(memory->at[1] - memory->at[0]).count()
            : 0.0;

    // The same memory back in, then the kernel's reclaim of the whole group.
    for (pid_t c : children)
        ::kill(c, SIGUSR1);
    if (!waitReports(pipeFds[0], kProcesses)) {
        cleanup();
        return 1;
    }
    const uint64_t refilled = group.usage();
    const auto k0 = Clock::now();
    const char* method = group.v2 ? "memory.reclaim (cgroup v2)" : "memory.force_empty (cgroup v1)";
    if (group.v2)
        writeFile(group.path + "/memory.reclaim", std::to_string(refilled));
    else
        writeFile(group.path + "/memory.force_empty", "0");
    const auto k1 = Clock::now();
    const uint64_t afterKernel = group.usage();
    const uint64_t freedKernel = refilled > afterKernel ? refilled - afterKernel : 0;

    std::printf("processes: %d\n", kProcesses);
    std::printf("held_rss_mib: %.1f\n", mib(held));
    std::printf("group_usage_mib: %.1f\n", mib(before));
    std::printf("release_ms: %.0f\n", std::chrono::duration<double, std::milli>(t1 - t0).count());
    std::printf("release_emptying_ms: %.1f\n", emptyingMs);
    std::printf("release_reported_mib: %.1f\n", mib(reportedBytes));
    std::printf("release_rss_after_mib: %.1f\n", mib(rssOurs));
    std::printf("release_freed_mib: %.1f\n", mib(freedOurs));
    std::printf("kernel_method: %s\n", method);
    std::printf("kernel_group_usage_mib: %.1f\n", mib(refilled));
    std::printf("kernel_ms: %.1f\n", std::chrono::duration<double, std::milli>(k1 - k0).count());
    std::printf("kernel_rss_after_mib: %.1f\n", mib(rssBytes()));
    std::printf("kernel_freed_mib: %.1f\n", mib(freedKernel));
    std::printf("ratio: %.3f\n",
                freedKernel ? static_cast<double>(freedOurs) / static_cast<double>(freedKernel)
                            : 0.0);
    cleanup();
    return rc;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/filterclient.h"

#include "filterwire/framing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace vb::platform::linux_ {

namespace fs = vb::filterwire;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, 0 once it has passed.
int msLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

// Waits for the socket to become ready for events until the deadline; a stalled service never
// holds its caller longer than that.
bool waitReady(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, msLeft(deadline));
        if (n > 0)
            return (p.revents & events) != 0;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

// One message out, on a non-blocking socket, within the deadline.
bool sendWithin(int fd, const std::vector<uint8_t>& msg, Clock::time_point deadline)
{
    for (;;) {
        const ssize_t n = send(fd, msg.data(), msg.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(msg.size()))
            return true;
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return false;
        if (errno != EINTR && !waitReady(fd, POLLOUT, deadline))
            return false;
    }
}

// One message in, within the deadline; its full length (MSG_TRUNC) or -1.
ssize_t recvWithin(int fd, uint8_t* buf, size_t size, Clock::time_point deadline)
{
    for (;;) {
        const ssize_t n = recv(fd, buf, size, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0)
            return n;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return -1;
        if (errno != EINTR && !waitReady(fd, POLLIN, deadline))
            return -1;
    }
}

class SocketHandle : public IFilterHandle
{
public:
    SocketHandle(int fd, int timeoutMs) : m_fd(fd), m_timeoutMs(timeoutMs) {}
    ~SocketHandle() override { close(m_fd); }
    bool connected() const override { return !m_broken; }

    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t outCapacity, size_t& bytesReturned) override
    {
        bytesReturned = 0;
        if (m_broken)
            return ErrDeviceNotConnected;
        if (in.size() > fs::MaxRequestInput)
            return ErrInvalidParameter;
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
        const auto capacity = static_cast<uint32_t>(std::min<size_t>(outCapacity, 0xFFFFFFFFu));
        const auto msg = fs::encodeRequest(code, capacity, in.data(), in.size());
        if (!sendWithin(m_fd, msg, deadline))
            return fail();
        // Kept from call to call: the sampler asks once a second, and a fresh 64 KiB buffer
        // zeroed each time costs more than the small reply it usually carries.
        std::vector<uint8_t>& reply = m_reply;
        if (reply.empty())
            reply.resize(fs::ReplyHeadSize + fs::MaxReplyOutput + 1);
        const ssize_t n = recvWithin(m_fd, reply.data(), reply.size(), deadline);
        if (n < static_cast<ssize_t>(fs::ReplyHeadSize) || static_cast<size_t>(n) > reply.size())
            return fail();
        // A service that answers more than was asked for, or a length that does not match the
        // message, is not believed.
        const auto r = fs::decodeReply(reply.data(), static_cast<size_t>(n));
        if (!r || r->outputLength > outCapacity)
            return fail();
        if (out.size() < r->outputLength)
            out.resize(r->outputLength);
        if (r->outputLength > 0)
            std::memcpy(out.data(), r->output, r->outputLength);
        bytesReturned = r->outputLength;
        return r->error;
    }

private:
    // The service went away, stalled or spoke nonsense: this handle is done for (a late reply
    // would otherwise answer the next request).
    uint32_t fail()
    {
        m_broken = true;
        return ErrDeviceNotConnected;
    }
    int m_fd;
    std::vector<uint8_t> m_reply;
    int m_timeoutMs;
    bool m_broken = false;
};

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::getline(in, out);
    return true;
}

int runCommand(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool validName(const std::string& name)
{
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    return true;
}

// A root service must never run a file that someone other than root could have replaced: the
// binary and every folder above it (as given and as resolved) must belong to root and be
// writable by nobody else.
bool trustedByRoot(const std::string& path)
{
    auto ownedByRoot = [](const std::string& p, bool followLinks) {
        struct stat st;
        if ((followLinks ? stat(p.c_str(), &st) : lstat(p.c_str(), &st)) != 0)
            return false;
        if (S_ISLNK(st.st_mode))
            return st.st_uid == 0;
        return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    };
    auto everyFolder = [&](const std::string& p, bool followLinks) {
        if (p.empty() || p[0] != '/' || !ownedByRoot(p, followLinks))
            return false;
        for (size_t slash = p.rfind('/'); slash != std::string::npos && slash > 0;
             slash = p.rfind('/', slash - 1))
            if (!ownedByRoot(p.substr(0, slash), true))
                return false;
        return ownedByRoot("/", true);
    };
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return false;
    struct stat st;
    return everyFolder(path, false) && everyFolder(resolved, true) && stat(resolved, &st) == 0 &&
           S_ISREG(st.st_mode);
}

// One word of a unit's command line, quoted so that spaces, quotes, backslashes, systemd's
// specifiers (%) and variables ($) stay literal.
std::string unitQuoted(const std::string& word)
{
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '%')
            out += '%';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out + '"';
}

// Units this library wrote carry this line; packaged units never do and are never touched.
constexpr const char* OwnUnitMarker = "# Written by Verdant Ball";

bool ownUnit(const std::string& path)
{
    std::string first;
    return readFile(path, first) && first == OwnUnitMarker;
}

// The binary ExecStart of a unit this library wrote names.
std::string ownUnitBinary(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("ExecStart=\"", 0) != 0)
            continue;
        std::string word;
        for (size_t i = 11; i < line.size() && line[i] != '"'; ++i) {
            // A backslash escapes the next character; "%%" and "$$" stand for one.
            const bool escape = line[i] == '\\' || line[i] == '%' || line[i] == '$';
            if (escape && i + 1 < line.size())
                ++i;
            word += line[i];
        }
        return word;
    }
    return std::string();
}

} // namespace

SocketFilterDevice::SocketFilterDevice(std::string directory, int timeoutMs)
    : m_directory(std::move(directory)), m_timeoutMs(timeoutMs)
{}

std::unique_ptr<IFilterHandle> SocketFilterDevice::open(bool writable, uint32_t& error)
{
    // A service that just failed to greet us in time is not waited for again at once: a
    // read-write open and the read-only one after it cost one timeout, not two.
    const auto now = Clock::now().time_since_epoch().count();
    if (now < m_stalledUntil.load()) {
        error = ErrFileNotFound;
        return nullptr;
    }
    const std::string path =
        m_directory + "/" + (writable ? fs::ReadWriteSocketName : fs::ReadOnlySocketName);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = ErrFileNotFound;
        return nullptr;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = ErrNotEnoughMemory;
        return nullptr;
    }
    // Non-blocking: a service whose queue of waiting connections is full answers EAGAIN at
    // once instead of holding the caller until it accepts.
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno == EACCES || errno == EPERM ? ErrAccessDenied : ErrFileNotFound;
        close(fd);
        return nullptr;
    }
    // The service says whether it accepts this peer before anything is asked.
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
    uint8_t raw[fs::HelloSize + 1];
    const ssize_t got = recvWithin(fd, raw, sizeof raw, deadline);
    const auto hello = got > 0 && static_cast<size_t>(got) <= sizeof raw
                           ? fs::decodeHello(raw, static_cast<size_t>(got))
                           : std::nullopt;
    if (!hello) {
        if (got < 0 && msLeft(deadline) == 0)
            m_stalledUntil.store(
                (Clock::now() + std::chrono::milliseconds(m_timeoutMs)).time_since_epoch().count());
        error = ErrFileNotFound;
        close(fd);
        return nullptr;
    }
    const uint32_t status = hello->error;
    const uint32_t mode = hello->accessMode;
    if (status != 0 || mode != (writable ? 2u : 1u)) {
        error = status != 0 ? status : ErrAccessDenied;
        close(fd);
        return nullptr;
    }
    error = ErrSuccess;
    return std::make_unique<SocketHandle>(fd, m_timeoutMs);
}

FilterService::FilterService(std::string stateDir, std::string runDir,
                             std::vector<std::string> extraArgs, bool useSystemd)
    : m_stateDir(std::move(stateDir)), m_runDir(std::move(runDir)),
      m_extraArgs(std::move(extraArgs)), m_useSystemd(useSystemd)
{}

std::string FilterService::binaryRelativePath(bool) const
{
    return "wfp/x64/filterd";
}

bool FilterService::systemdRuns() const
{
    struct stat st;
    return m_useSystemd && stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FilterService::recordPath(const std::string& name) const
{
    return m_stateDir + "/" + name + ".service";
}

std::string FilterService::pidPath(const std::string& name) const
{
    return m_runDir + "/" + name + ".pid";
}

int FilterService::runningPid(const std::string& name) const
{
    std::string text;
    if (!readFile(pidPath(name), text))
        return 0;
    const int pid = std::atoi(text.c_str());
    if (pid <= 1 || kill(pid, 0) != 0)
        return 0;
    // The pid file might outlive its process and the number be reused; check the image.
    char exe[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
    std::string binary;
    std::string record;
    if (n <= 0 || !readFile(recordPath(name), record))
        return 0;
    binary.assign(exe, static_cast<size_t>(n));
    return binary.rfind(record, 0) == 0 ? pid : 0;
}

ServiceState FilterService::state(const std::string& name)
{
    if (!validName(name))
        return ServiceState::Missing;
    if (systemdRuns()) {
        if (runCommand({"systemctl", "cat", name + ".service"}) != 0)
            return ServiceState::Missing;
        return runCommand({"systemctl", "is-active", "--quiet", name + ".service"}) == 0
                   ? ServiceState::Running
                   : ServiceState::Stopped;
    }
    struct stat st;
    if (stat(recordPath(name).c_str(), &st) != 0)
        return ServiceState::Missing;
    return runningPid(name) ? ServiceState::Running : ServiceState::Stopped;
}

uint32_t FilterService::install(const std::string& name, const std::string& binaryPath)
{
    if (!validName(name) || binaryPath.empty() || binaryPath[0] != '/' ||
        binaryPath.find('\n') != std::string::npos)
        return ErrInvalidParameter;
    // A packaged unit is found here and never shadowed by a second one.
    if (state(name) != ServiceState::Missing)
        return ErrServiceExists;
    if (access(binaryPath.c_str(), X_OK) != 0)
        return ErrFileNotFound;
    if (!trustedByRoot(binaryPath))
        return ErrAccessDenied;
    if (systemdRuns()) {
        const std::string unit = "/etc/systemd/system/" + name + ".service";
        std::ofstream out(unit);
        if (!out)
            return ErrAccessDenied;
        out << OwnUnitMarker << "\n[Unit]\nDescription=Traffic filter service\n\n[Service]\n"
            << "ExecStart=" << unitQuoted(binaryPath);
        for (const auto& a : m_extraArgs)
            out << ' ' << unitQuoted(a);
        out << "\nRestart=on-failure\n";
        out.close();
        return runCommand({"systemctl", "daemon-reload"}) == 0 ? ErrSuccess : ErrAccessDenied;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_stateDir, ec);
    std::ofstream out(recordPath(name));
    if (!out)
        return ErrAccessDenied;
    out << binaryPath << "\n";
    return out ? ErrSuccess : ErrAccessDenied;
}

uint32_t FilterService::start(const std::string& name)
{
    if (!validName(name))
        return ErrInvalidParameter;
    const ServiceState s = state(name);
    if (s == ServiceState::Missing)
        return ErrServiceDoesNotExist;
    if (s == ServiceState::Running)
        return ErrServiceAlreadyRunning;
    if (systemdRuns()) {
        // A unit of our own names a binary we chose once; it must still be root's alone.
        const std::string unit = "/etc/systemd/system/" + name + ".service";
        if (ownUnit(unit) && !trustedByRoot(ownUnitBinary(unit)))
            return ErrAccessDenied;
        return runCommand({"systemctl", "start", name + ".service"}) == 0 ? ErrSuccess
                                                                          : ErrAccessDenied;
    }
    std::string binary;
    if (!readFile(recordPath(name), binary) || binary.empty())
        return ErrServiceDoesNotExist;
    if (!trustedByRoot(binary))
        return ErrAccessDenied;
    mkdir(m_runDir.c_str(), 0755);
    std::vector<std::string> args{binary,        "--supervise",  "--pidfile",
                                  pidPath(name), "--socket-dir", m_runDir};
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    // Detached twice over, so the supervisor belongs to no session of ours and is no child of
    // the library's process.
    const pid_t first = fork();
    if (first < 0)
        return ErrNotEnoughMemory;
    if (first == 0) {
        setsid();
        const pid_t second = fork();
        if (second != 0)
            _exit(second < 0 ? 1 : 0);
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
        }
        for (int fd = 3; fd < 1024; ++fd)
            close(fd);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(first, &status, 0);
    // Started means answering: wait (bounded) for the sockets.
    const std::string socket = m_runDir + "/" + fs::ReadOnlySocketName;
    for (int i = 0; i < 100; ++i) {
        struct stat st;
        if (stat(socket.c_str(), &st) == 0 && runningPid(name))
            return ErrSuccess;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return runningPid(name) ? ErrSuccess : ErrAccessDenied;
}

uint32_t FilterService::remove(const std::string& name)
{
    if (!validName(name))
        return ErrInvalidParameter;
    if (systemdRuns()) {
        // Only a unit this library wrote is stopped and deleted; a packaged one belongs to the
        // package manager.
        const std::string unit = "/etc/systemd/system/" + name + ".service";
        if (!ownUnit(unit))
            return state(name) == ServiceState::Missing ? ErrServiceDoesNotExist : ErrAccessDenied;
        runCommand({"systemctl", "stop", name + ".service"});
        if (unlink(unit.c_str()) != 0)
            return ErrServiceDoesNotExist;
        runCommand({"systemctl", "daemon-reload"});
        return ErrSuccess;
    }
    if (const int pid = runningPid(name)) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return unlink(recordPath(name).c_str()) == 0 ? ErrSuccess : ErrServiceDoesNotExist;
}

bool LinuxElevation::isElevated()
{
    return geteuid() == 0;
}

} // namespace vb::platform::linux_

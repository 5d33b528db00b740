// SPDX-License-Identifier: GPL-3.0-or-later
// The filter device on Linux: the filter service's Unix sockets, and the service itself run
// through systemd when it manages the machine, else started and supervised directly.
#pragma once

#include "platform/elevation.h"
#include "platform/filterdevice.h"

#include <atomic>
#include <string>
#include <vector>

namespace vb::platform::linux_ {

// Every call is bounded by timeoutMs: connecting (which never waits for a full queue), the
// service's greeting, and each request with its reply.
class SocketFilterDevice : public IFilterDevice
{
public:
    explicit SocketFilterDevice(std::string directory = "/run/pswfp", int timeoutMs = 2000);
    std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) override;
    bool caseSensitivePaths() const override { return true; }

private:
    std::string m_directory;
    int m_timeoutMs;
    // Shared by the threads that open handles: until when (steady clock ticks) a service that
    // did not greet in time is taken as absent.
    std::atomic<long long> m_stalledUntil{0};
};

class FilterService : public IDriverService
{
public:
    // stateDir records installed services; runDir is where the service's sockets and pid
    // file go when it runs without systemd. extraArgs are passed to the service binary.
    FilterService(std::string stateDir = "/var/lib/verdant-ball/services",
                  std::string runDir = "/run/pswfp", std::vector<std::string> extraArgs = {},
                  bool useSystemd = true);
    ServiceState state(const std::string& name) override;
    uint32_t install(const std::string& name, const std::string& binaryPath) override;
    uint32_t start(const std::string& name) override;
    uint32_t remove(const std::string& name) override;
    std::string binaryRelativePath(bool wow64) const override;

private:
    bool systemdRuns() const;
    std::string recordPath(const std::string& name) const;
    std::string pidPath(const std::string& name) const;
    int runningPid(const std::string& name) const;

    std::string m_stateDir;
    std::string m_runDir;
    std::vector<std::string> m_extraArgs;
    bool m_useSystemd;
};

class LinuxElevation : public IElevation
{
public:
    bool isElevated() override;
    bool isWow64() override { return false; }
};

} // namespace vb::platform::linux_

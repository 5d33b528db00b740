// SPDX-License-Identifier: GPL-3.0-or-later
// Background services (Win32 services; systemd service units on Linux).
#pragma once

#include "platform/types.h"

#include <memory>
#include <optional>

namespace vb::platform {

// The service states with Windows' numbers (SERVICE_STOPPED ... SERVICE_PAUSED).
enum ServiceRunState : uint32_t {
    SvcStopped = 1,
    SvcStartPending = 2,
    SvcStopPending = 3,
    SvcRunning = 4,
    SvcContinuePending = 5,
    SvcPausePending = 6,
    SvcPaused = 7,
};

// Where the system's units and the session's own units meet (rows, the configuration file,
// a fix), a unit of the session's manager is named with this prefix before its unit name:
// "user:tracker-miner-fs-3.service". Unit names of the system never carry it.
inline constexpr char kUserUnitPrefix[] = "user:";

struct ServiceInfo
{
    std::string keyName;     // the service's key (the unit name on Linux, "cups.service")
    std::string displayName; // empty when the service has none of its own
    std::string description;
    ProcessId processId = 0; // hosting (main) process, 0 when none
    ServiceRunState state = SvcStopped;
    uint32_t waitHintMs = 0; // how long to wait before asking again while pending
    // What the manager itself knows of the main process, for a caller that may not look into
    // another user's process: the image it started, and the memory it accounts to the service.
    // Asked for only where the caller cannot read them from the process itself.
    std::string imagePath;               // empty when unknown or not needed
    std::optional<uint64_t> memoryBytes; // none when not accounted or not needed
};

// One connection to the service manager for a series of requests (one fix), closed when
// destroyed. Error numbers as in IServices.
class IServiceManager
{
public:
    virtual ~IServiceManager() = default;
    virtual uint32_t queryService(const std::string& keyName, ServiceInfo& out) = 0;
    virtual bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) = 0;
    // Sends the stop request; out is the status right after it.
    virtual uint32_t sendStop(const std::string& keyName, ServiceInfo& out) = 0;
    // Waits until the service's stop has made progress (its stop job ended, its state changed)
    // or maxMs have passed, whichever is first, then reads its status into out.
    virtual uint32_t waitForStop(const std::string& keyName, uint32_t maxMs, ServiceInfo& out) = 0;
};

class IServices
{
public:
    virtual ~IServices() = default;
    // Every service that is not stopped (running, pending or paused), in the manager's order.
    // False when the service manager cannot be reached or the listing fails.
    virtual bool activeServices(std::vector<ServiceInfo>& out) = 0;
    // Running services that depend on keyName (they stop when it stops), in the manager's order.
    virtual bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) = 0;
    // The service's current status; a Windows error number (1060 when it does not exist).
    virtual uint32_t queryService(const std::string& keyName, ServiceInfo& out) = 0;
    // Asks the service to stop without waiting; a Windows error number (0 when the request
    // was taken, 1062 when it is not running, 5 when this user may not).
    virtual uint32_t stopService(const std::string& keyName) = 0;
    // A connection of its own to the manager, on the calling thread; null when unreachable.
    virtual std::unique_ptr<IServiceManager> openManager() = 0;
    // The processes that head the session's application units (desktops start each
    // application in a unit of its own), one or more per application, in no set order. False
    // when this manager keeps no such units or cannot be reached.
    virtual bool applicationProcesses(std::vector<ProcessId>& out)
    {
        out.clear();
        return false;
    }
};

} // namespace vb::platform

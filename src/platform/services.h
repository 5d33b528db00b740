// SPDX-License-Identifier: GPL-3.0-or-later
// Background services (Win32 services; systemd units on Linux).
#pragma once

#include "platform/types.h"

namespace vb::platform {

struct ServiceInfo
{
    std::string keyName; // the service's key (unit name on Linux)
    std::string displayName;
    std::string description;
    ProcessId processId = 0; // main process, 0 when none
};

class IServices
{
public:
    virtual ~IServices() = default;
    // Running services that have a process. False when the service manager cannot be reached.
    virtual bool runningServices(std::vector<ServiceInfo>& out) = 0;
    // Services that depend on keyName and are active.
    virtual bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) = 0;
    // Stops the service; returns a Windows error number (0 on success).
    virtual uint32_t stopService(const std::string& keyName) = 0;
};

} // namespace vb::platform

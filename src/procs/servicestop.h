// SPDX-License-Identifier: GPL-3.0-or-later
// The fix's service stop: a service after its running dependents, depth first, through one
// connection to the service manager. Plain C++ over the seam, so every backend runs this one.
#pragma once

#include "platform/services.h"

#include <memory>
#include <string>
#include <vector>

namespace vb::procs {

// Each service, and each of its dependents, gets this long to stop.
constexpr uint32_t kServiceStopMs = 3000;

// Where the stop tells why a service was not stopped; null says nothing.
using ServiceStopLog = void (*)(const std::string& text);

// The service manager connection of one fix: opened by the first service row that needs it,
// shared by every stop of the fix and closed when the fix ends.
struct ServiceManagerHandle
{
    explicit ServiceManagerHandle(std::shared_ptr<vb::platform::IServices> s,
                                  ServiceStopLog logTo = nullptr)
        : services(std::move(s)), log(logTo)
    {}
    std::shared_ptr<vb::platform::IServices> services;
    std::unique_ptr<vb::platform::IServiceManager> manager;
    // The chain of stops under way: units may require each other in a circle.
    std::vector<std::string> stopping;
    ServiceStopLog log = nullptr;
};

// Stops the service after its running dependents; true when it is stopped within timeoutMs.
bool stopService(ServiceManagerHandle& handle, const std::string& name, uint32_t timeoutMs);
// Stops the running dependents of name, depth first; false at the first that does not stop.
bool stopDependentServices(ServiceManagerHandle& handle, const std::string& name,
                           uint32_t timeoutMs);

} // namespace vb::procs

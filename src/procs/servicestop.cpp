// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/servicestop.h"

#include <algorithm>
#include <chrono>

namespace vb::procs {

using vb::platform::ServiceInfo;
using vb::platform::SvcStopped;

bool stopService(ServiceManagerHandle& handle, const std::string& name, uint32_t timeoutMs)
{
    if (!handle.manager) {
        if (!handle.services)
            return false;
        handle.manager = handle.services->openManager();
        if (!handle.manager)
            return false;
    }
    vb::platform::IServiceManager& manager = *handle.manager;
    handle.stopping.push_back(name);
    struct Done
    {
        std::vector<std::string>& chain;
        ~Done() { chain.pop_back(); }
    } done{handle.stopping};
    ServiceInfo status;
    if (manager.queryService(name, status) != vb::platform::ErrSuccess)
        return false;
    if (status.state == SvcStopped)
        return true; // closed already: no request, its dependents untouched
    // A dependent that will not stop does not keep the service itself from being asked.
    stopDependentServices(handle, name, timeoutMs);
    if (const uint32_t e = manager.sendStop(name, status)) {
        if (handle.log)
            handle.log("fix: the stop of " + name + " was refused, error " + std::to_string(e));
        return false;
    }
    if (status.state == SvcStopped)
        return true;
    // From the manager's taking the request on: the time a person spent answering polkit's
    // agent is no time the service took to stop.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        if (elapsed >= timeoutMs) {
            if (handle.log)
                handle.log("fix: " + name + " did not stop within " + std::to_string(timeoutMs) +
                           " ms");
            return false;
        }
        if (manager.waitForStop(name, timeoutMs - static_cast<uint32_t>(elapsed), status) !=
            vb::platform::ErrSuccess)
            return false;
        if (status.state == SvcStopped)
            return true;
    }
}

bool stopDependentServices(ServiceManagerHandle& handle, const std::string& name,
                           uint32_t timeoutMs)
{
    if (!handle.manager)
        return false;
    std::vector<ServiceInfo> dependents;
    if (!handle.manager->activeDependents(name, dependents))
        return false;
    for (const ServiceInfo& d : dependents) {
        // One whose stop is under way further up the chain stops there.
        if (std::find(handle.stopping.begin(), handle.stopping.end(), d.keyName) !=
            handle.stopping.end())
            continue;
        if (!stopService(handle, d.keyName, timeoutMs))
            return false; // the later dependents are not tried
    }
    return true;
}

} // namespace vb::procs

// SPDX-License-Identifier: GPL-3.0-or-later
// Services as the service control manager keeps them.
#pragma once

#include "platform/services.h"

namespace vb::platform::win32 {

// A stop is polled no faster than this, whatever wait hint the service gives (0 included): a
// service that says nothing of its pace must not cost a core for the whole stop.
inline constexpr uint32_t kStopPollFloorMs = 50;

class Win32Services : public IServices
{
public:
    bool activeServices(std::vector<ServiceInfo>& out) override;
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override;
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override;
    uint32_t stopService(const std::string& keyName) override;
    // Opened with full access: a fix stops services through it.
    std::unique_ptr<IServiceManager> openManager() override;
};

} // namespace vb::platform::win32

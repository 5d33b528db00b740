// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the filter device and keeping its driver service installed and running, over the
// seam's device and service alone (no Qt), so every backend runs the same policy.
#pragma once

#include <memory>
#include <string>

namespace vb::platform {
class IDriverService;
class IFilterDevice;
class IFilterHandle;
} // namespace vb::platform

namespace vb::flow {

// Read-write first, then read-only; readOnly tells which one opened. Null when neither did.
std::unique_ptr<vb::platform::IFilterHandle> openFilter(vb::platform::IFilterDevice& device,
                                                        bool& readOnly);

// Each false when the service is null. Install starts the service too, also one that existed.
bool installDriverService(vb::platform::IDriverService* service, const std::string& name,
                          const std::string& binaryPath);
bool startDriverService(vb::platform::IDriverService* service, const std::string& name);
bool removeDriverService(vb::platform::IDriverService* service, const std::string& name);
// Makes the device reachable: opens it, else starts, else (re)installs the service.
bool ensureDriver(vb::platform::IDriverService* service, vb::platform::IFilterDevice* device,
                  const std::string& name, const std::string& binaryPath);

} // namespace vb::flow

// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/driverpolicy.h"

#include "platform/filterdevice.h"

namespace vb::flow {

using namespace vb::platform;

std::unique_ptr<IFilterHandle> openFilter(IFilterDevice& device, bool& readOnly)
{
    uint32_t error = ErrSuccess;
    readOnly = false;
    auto handle = device.open(true, error);
    if (!handle) {
        readOnly = true;
        handle = device.open(false, error);
    }
    return handle;
}

bool installDriverService(IDriverService* service, const std::string& name,
                          const std::string& binaryPath)
{
    if (!service)
        return false;
    const uint32_t created = service->install(name, binaryPath);
    if (created != ErrSuccess) {
        // 997 is what the Windows manager may answer while a creation is still pending.
        if (created != 997 && created != ErrServiceExists)
            return false;
        if (service->state(name) == ServiceState::Missing)
            return false;
    }
    const uint32_t started = service->start(name);
    return started == ErrSuccess || started == ErrServiceAlreadyRunning;
}

bool startDriverService(IDriverService* service, const std::string& name)
{
    if (!service)
        return false;
    const uint32_t started = service->start(name);
    return started == ErrSuccess || started == ErrServiceAlreadyRunning;
}

bool removeDriverService(IDriverService* service, const std::string& name)
{
    return service && service->remove(name) == ErrSuccess;
}

bool ensureDriver(IDriverService* service, IFilterDevice* device, const std::string& name,
                  const std::string& binaryPath)
{
    const auto reachable = [device] {
        bool readOnly = false;
        return device && openFilter(*device, readOnly) != nullptr;
    };
    if (reachable())
        return true;
    if (startDriverService(service, name)) {
        if (reachable())
            return true;
        removeDriverService(service, name);
    }
    if (installDriverService(service, name, binaryPath))
        return true;
    removeDriverService(service, name);
    return installDriverService(service, name, binaryPath);
}

} // namespace vb::flow

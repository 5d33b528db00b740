// SPDX-License-Identifier: GPL-3.0-or-later
// Transport to the traffic filter device and management of its service.
#pragma once

#include "platform/types.h"

#include <memory>

namespace vb::platform {

class IFilterHandle
{
public:
    virtual ~IFilterHandle() = default;
    // One device-control call: sends in, receives at most outCapacity bytes into out.
    // Returns a Windows error number (0, 122, 234, ...); bytesReturned is what was written.
    virtual uint32_t control(uint32_t code, const std::vector<uint8_t>& in,
                             std::vector<uint8_t>& out, size_t outCapacity,
                             size_t& bytesReturned) = 0;
};

class IFilterDevice
{
public:
    virtual ~IFilterDevice() = default;
    // Opens the device read-write (writable true) or read-only; null with error set on failure.
    virtual std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) = 0;
};

enum class ServiceState { Missing, Stopped, Running };

class IDriverService
{
public:
    virtual ~IDriverService() = default;
    virtual ServiceState state(const std::string& name) = 0;
    // Installs the service with the given binary; Windows error number.
    virtual uint32_t install(const std::string& name, const std::string& binaryPath) = 0;
    virtual uint32_t start(const std::string& name) = 0;
    virtual uint32_t remove(const std::string& name) = 0;
};

} // namespace vb::platform

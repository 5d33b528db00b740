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
    // False once the device behind the handle has gone away; the handle then only fails.
    virtual bool connected() const { return true; }
};

using vb::filterwire::ErrDeviceNotConnected;

class IFilterDevice
{
public:
    virtual ~IFilterDevice() = default;
    // Opens the device read-write (writable true) or read-only; null with error set on failure.
    virtual std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) = 0;
    // Whether the filter matches image paths with their letter case kept. Where file names
    // ignore case the library lower-cases block requests; where they do not, it must not.
    virtual bool caseSensitivePaths() const { return false; }
};

enum class ServiceState { Missing, Stopped, Running };

class IDriverService
{
public:
    virtual ~IDriverService() = default;
    virtual ServiceState state(const std::string& name) = 0;
    // Installs the service with the given binary; Windows error number (1073 when it exists).
    virtual uint32_t install(const std::string& name, const std::string& binaryPath) = 0;
    // Starts it; 1056 when it already runs, 1060 when it is not installed.
    virtual uint32_t start(const std::string& name) = 0;
    // Stops and deletes it; 1060 when it is not installed.
    virtual uint32_t remove(const std::string& name) = 0;
    // The service binary below the application folder.
    virtual std::string binaryRelativePath(bool wow64) const
    {
        return windowsBinaryRelativePath(wow64);
    }
    static std::string windowsBinaryRelativePath(bool wow64)
    {
        return std::string("wfp/") + (wow64 ? "x64" : "x86") + "/PSWFP.sys";
    }
};

} // namespace vb::platform

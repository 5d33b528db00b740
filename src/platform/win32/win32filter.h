// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic filter's control device through CreateFileW and DeviceIoControl, its kernel-driver
// service through the service control manager, and the process's elevation.
#pragma once

#include "platform/elevation.h"
#include "platform/filterdevice.h"

#include <string>

namespace vb::platform::win32 {

class Win32FilterDevice : public IFilterDevice
{
public:
    // The Win32 path of the driver's control device.
    explicit Win32FilterDevice(std::wstring devicePath = L"\\\\.\\KESTROWE_PSWFP");
    // Read-write asks for reading and writing and shares both; read-only asks for and shares
    // reading alone. The error is the one CreateFileW left.
    std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) override;

private:
    std::wstring m_path;
};

// Services on the local machine's manager; the driver is a kernel-driver service started on
// demand.
class Win32DriverService : public IDriverService
{
public:
    ServiceState state(const std::string& name) override;
    uint32_t install(const std::string& name, const std::string& binaryPath) override;
    uint32_t start(const std::string& name) override;
    uint32_t remove(const std::string& name) override;
};

class Win32Elevation : public IElevation
{
public:
    // The process token's elevation.
    bool isElevated() override;
    bool isWow64() override;
};

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32filter.h"

#include "platform/win32/winapi.h"

#include <algorithm>

namespace vb::platform::win32 {

namespace {

// Whether the device's name still leads somewhere. A handle whose driver unloaded gets no error
// of its own (wine answers access denied, as it does a write code on a read-only handle), so a
// failed call asks the name.
bool deviceExists(const std::wstring& path)
{
    Handle probe(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    if (probe)
        return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

class Win32FilterHandle : public IFilterHandle
{
public:
    Win32FilterHandle(Handle handle, std::wstring path)
        : m_handle(std::move(handle)), m_path(std::move(path))
    {}

    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t outCapacity, size_t& bytesReturned) override
    {
        bytesReturned = 0;
        if (out.size() < outCapacity)
            out.resize(outCapacity);
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(
            m_handle.get(), code, in.empty() ? nullptr : const_cast<uint8_t*>(in.data()),
            static_cast<DWORD>(in.size()), outCapacity == 0 ? nullptr : out.data(),
            static_cast<DWORD>(outCapacity), &returned, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        // A failed call may leave the count as it was; only "more data" comes with bytes.
        bytesReturned = (ok || error == ERROR_MORE_DATA) ? returned : 0;
        if (!ok && error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER &&
            !deviceExists(m_path))
            m_gone = true;
        return error;
    }

    bool connected() const override { return !m_gone; }

private:
    Handle m_handle;
    std::wstring m_path;
    bool m_gone = false;
};

ScHandle openManager()
{
    return ScHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

uint32_t lastError()
{
    return static_cast<uint32_t>(GetLastError());
}

// The named service with every right, through a manager handle the caller keeps open; error is
// the failed call's.
ScHandle openDriver(const std::string& name, ScHandle& manager, uint32_t& error)
{
    manager = openManager();
    ScHandle service(manager ? OpenServiceW(manager.get(), wideOf(name).c_str(), SERVICE_ALL_ACCESS)
                             : nullptr);
    error = service ? ERROR_SUCCESS : lastError();
    return service;
}

} // namespace

Win32FilterDevice::Win32FilterDevice(std::wstring devicePath) : m_path(std::move(devicePath)) {}

std::unique_ptr<IFilterHandle> Win32FilterDevice::open(bool writable, uint32_t& error)
{
    const DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    const DWORD share = writable ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : FILE_SHARE_READ;
    Handle h(CreateFileW(m_path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) {
        error = lastError();
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_unique<Win32FilterHandle>(std::move(h), m_path);
}

ServiceState Win32DriverService::state(const std::string& name)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return ServiceState::Missing;
    ScHandle service(OpenServiceW(manager.get(), wideOf(name).c_str(), SERVICE_QUERY_STATUS));
    if (!service)
        return ServiceState::Missing;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        return ServiceState::Stopped;
    return status.dwCurrentState == SERVICE_STOPPED ? ServiceState::Stopped : ServiceState::Running;
}

uint32_t Win32DriverService::install(const std::string& name, const std::string& binaryPath)
{
    ScHandle manager = openManager();
    if (!manager)
        return lastError();
    // The folder comes with forward slashes; the service manager keeps the path as given.
    std::wstring path = wideOf(binaryPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    const std::wstring wname = wideOf(name);
    ScHandle service(CreateServiceW(manager.get(), wname.c_str(), wname.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_IGNORE, path.c_str(), nullptr, nullptr, nullptr,
                                    nullptr, nullptr));
    return service ? ERROR_SUCCESS : lastError();
}

uint32_t Win32DriverService::start(const std::string& name)
{
    ScHandle manager;
    uint32_t error = ERROR_SUCCESS;
    const ScHandle service = openDriver(name, manager, error);
    if (!service)
        return error;
    return StartServiceW(service.get(), 0, nullptr) ? ERROR_SUCCESS : lastError();
}

uint32_t Win32DriverService::remove(const std::string& name)
{
    ScHandle manager;
    uint32_t error = ERROR_SUCCESS;
    const ScHandle service = openDriver(name, manager, error);
    if (!service)
        return error;
    // A service that does not run cannot stop; deleting it is what counts.
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    return DeleteService(service.get()) ? ERROR_SUCCESS : lastError();
}

bool Win32Elevation::isElevated()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    Handle token(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return false;
    return elevation.TokenIsElevated != 0;
}

bool Win32Elevation::isWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32services.h"

#include "platform/win32/winapi.h"

#include <algorithm>
#include <cwchar>
#include <map>

namespace vb::platform::win32 {

namespace {

// What a stop needs on the service: the control, its status, and its dependents to stop first.
constexpr DWORD StopAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;
static_assert(StopAccess == 0x2C);
// Reading the status and the names of a service.
constexpr DWORD ReadAccess = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
// Listing and reading need no more of the manager than this.
constexpr DWORD ReadManager = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE;
static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36);

// A byte buffer the manager fills with structures (new[] aligns it for them).
using Bytes = std::unique_ptr<BYTE[]>;

std::string textOf(const wchar_t* text)
{
    return text ? utf8Of(text, std::wcslen(text)) : std::string();
}

// The display name only when it is the service's own, not its key again.
std::string ownDisplayName(const wchar_t* display, const std::string& key)
{
    std::string name = textOf(display);
    return name == key ? std::string() : name;
}

void takeStatus(const SERVICE_STATUS& s, ServiceInfo& out)
{
    out.state = static_cast<ServiceRunState>(s.dwCurrentState);
    out.waitHintMs = s.dwWaitHint;
}

void takeStatus(const SERVICE_STATUS_PROCESS& s, ServiceInfo& out)
{
    out.state = static_cast<ServiceRunState>(s.dwCurrentState);
    out.waitHintMs = s.dwWaitHint;
    out.processId = s.dwProcessId;
}

uint32_t readStatus(SC_HANDLE service, ServiceInfo& out)
{
    SERVICE_STATUS_PROCESS s{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&s),
                              sizeof(s), &needed))
        return GetLastError();
    takeStatus(s, out);
    return ErrSuccess;
}

// Asks for the size with no buffer, then fills a buffer of that size; null when either fails.
template <typename Call> Bytes askedSize(Call call, DWORD& bytes)
{
    DWORD needed = 0;
    if (call(nullptr, 0, needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return nullptr;
    Bytes buffer(new BYTE[needed]);
    if (!call(buffer.get(), needed, needed))
        return nullptr;
    bytes = needed;
    return buffer;
}

// The display name and description, where this handle may read them; left as they are if not.
void readNames(SC_HANDLE service, const std::string& key, ServiceInfo& out)
{
    DWORD bytes = 0;
    if (Bytes config = askedSize(
            [service](BYTE* b, DWORD n, DWORD& need) {
                return QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(b), n,
                                           &need) != FALSE;
            },
            bytes))
        out.displayName = ownDisplayName(
            reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.get())->lpDisplayName, key);
    if (Bytes desc = askedSize(
            [service](BYTE* b, DWORD n, DWORD& need) {
                return QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, b, n, &need) !=
                       FALSE;
            },
            bytes))
        out.description =
            textOf(reinterpret_cast<SERVICE_DESCRIPTIONW*>(desc.get())->lpDescription);
}

uint32_t queryOn(SC_HANDLE manager, const std::string& key, ServiceInfo& out)
{
    ScHandle service(OpenServiceW(manager, wideOf(key).c_str(), ReadAccess));
    if (!service)
        return GetLastError();
    out = ServiceInfo();
    out.keyName = key;
    if (const uint32_t e = readStatus(service.get(), out))
        return e;
    readNames(service.get(), key, out);
    return ErrSuccess;
}

// The service's active dependents: none when the call needs no buffer, else a second call
// into the size the first one asked for.
bool dependentsOf(SC_HANDLE service, std::vector<ServiceInfo>& out)
{
    out.clear();
    DWORD needed = 0, count = 0;
    if (EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count))
        return true;
    if (GetLastError() != ERROR_MORE_DATA)
        return false;
    Bytes buffer(new BYTE[needed]);
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSW*>(buffer.get());
    if (!EnumDependentServicesW(service, SERVICE_ACTIVE, entries, needed, &needed, &count))
        return false;
    for (DWORD i = 0; i < count; ++i) {
        ServiceInfo s;
        s.keyName = textOf(entries[i].lpServiceName);
        s.displayName = ownDisplayName(entries[i].lpDisplayName, s.keyName);
        takeStatus(entries[i].ServiceStatus, s);
        out.push_back(std::move(s));
    }
    return true;
}

bool dependentsOn(SC_HANDLE manager, const std::string& key, std::vector<ServiceInfo>& out)
{
    ScHandle service(OpenServiceW(manager, wideOf(key).c_str(), SERVICE_ENUMERATE_DEPENDENTS));
    return service && dependentsOf(service.get(), out);
}

// The connection of one fix. Each service it stops keeps its handle and last wait hint here
// until the connection closes, so the polls of one stop ask on the handle the stop went to.
class Win32ServiceManager : public IServiceManager
{
public:
    explicit Win32ServiceManager(ScHandle manager) : m_manager(std::move(manager)) {}

    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override
    {
        return queryOn(m_manager.get(), keyName, out);
    }

    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override
    {
        return dependentsOn(m_manager.get(), keyName, out);
    }

    uint32_t sendStop(const std::string& keyName, ServiceInfo& out) override
    {
        Stopping* s = open(keyName);
        if (!s)
            return GetLastError();
        SERVICE_STATUS status{};
        if (!ControlService(s->service.get(), SERVICE_CONTROL_STOP, &status))
            return GetLastError();
        out.keyName = keyName;
        takeStatus(status, out);
        s->waitHintMs = status.dwWaitHint;
        return ErrSuccess;
    }

    uint32_t waitForStop(const std::string& keyName, uint32_t maxMs, ServiceInfo& out) override
    {
        Stopping* s = open(keyName);
        if (!s)
            return GetLastError();
        // The hint as the service gave it, but never a busy poll and never past the time left.
        Sleep(std::min(std::max(s->waitHintMs, kStopPollFloorMs), maxMs));
        out.keyName = keyName;
        if (const uint32_t e = readStatus(s->service.get(), out))
            return e;
        s->waitHintMs = out.waitHintMs;
        return ErrSuccess;
    }

private:
    struct Stopping
    {
        ScHandle service;
        uint32_t waitHintMs = 0;
    };

    Stopping* open(const std::string& key)
    {
        auto it = m_stopping.find(key);
        if (it == m_stopping.end()) {
            ScHandle service(OpenServiceW(m_manager.get(), wideOf(key).c_str(), StopAccess));
            if (!service)
                return nullptr;
            it = m_stopping.emplace(key, Stopping{std::move(service), 0}).first;
        }
        return &it->second;
    }

    ScHandle m_manager;
    std::map<std::string, Stopping> m_stopping;
};

} // namespace

bool Win32Services::activeServices(std::vector<ServiceInfo>& out)
{
    out.clear();
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, ReadManager));
    if (!manager)
        return false;
    DWORD needed = 0, count = 0;
    if (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                              nullptr, 0, &needed, &count, nullptr, nullptr))
        return true; // not one service is active
    if (GetLastError() != ERROR_MORE_DATA)
        return false;
    // Exactly the asked size: a smaller buffer is not filled partly everywhere (wine returns
    // no entries at all in it).
    Bytes buffer(new BYTE[needed]);
    if (!EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE,
                               buffer.get(), needed, &needed, &count, nullptr, nullptr))
        return false;
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.get());
    for (DWORD i = 0; i < count; ++i) {
        const ENUM_SERVICE_STATUS_PROCESSW& e = entries[i];
        if (!e.lpServiceName || e.ServiceStatusProcess.dwCurrentState == SERVICE_STOPPED)
            continue;
        ServiceInfo s;
        s.keyName = textOf(e.lpServiceName);
        s.displayName = ownDisplayName(e.lpDisplayName, s.keyName);
        takeStatus(e.ServiceStatusProcess, s);
        ScHandle service(OpenServiceW(manager.get(), e.lpServiceName, SERVICE_QUERY_CONFIG));
        if (service)
            readNames(service.get(), s.keyName, s);
        out.push_back(std::move(s));
    }
    return true;
}

bool Win32Services::activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out)
{
    out.clear();
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    return manager && dependentsOn(manager.get(), keyName, out);
}

uint32_t Win32Services::queryService(const std::string& keyName, ServiceInfo& out)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return GetLastError();
    return queryOn(manager.get(), keyName, out);
}

uint32_t Win32Services::stopService(const std::string& keyName)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return GetLastError();
    ScHandle service(OpenServiceW(manager.get(), wideOf(keyName).c_str(), SERVICE_STOP));
    if (!service)
        return GetLastError();
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        return GetLastError();
    return ErrSuccess;
}

std::unique_ptr<IServiceManager> Win32Services::openManager()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return nullptr;
    return std::make_unique<Win32ServiceManager>(std::move(manager));
}

} // namespace vb::platform::win32

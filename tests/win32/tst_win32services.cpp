// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows services backend and the fix's service stop against services of our own
// (vb_testservice) installed in the service manager for the run and removed after it.
#include "check.h"
#include "testservice.h"

#include "platform/win32/win32processes.h"
#include "platform/win32/win32services.h"
#include "platform/win32/winapi.h"
#include "procs/servicestop.h"

#include <algorithm>
#include <cwctype>
#include <fstream>

using namespace vb::platform;
using namespace vb::platform::win32;

namespace {

struct TestService
{
    const char* name;
    const char* pace;      // as vb_testservice takes it
    const char* dependsOn; // null: none
    const char* displayName;
    const char* description;
    bool started;
};

// A chain (top needs mid needs base), the two awkward paces, and one never started.
const TestService kServices[] = {
    {"vbt_base", "quick", nullptr, "Verdant test base", "The chain's first link", true},
    {"vbt_mid", "quick", "vbt_base", nullptr, nullptr, true},
    {"vbt_top", "quick", "vbt_mid", nullptr, nullptr, true},
    {"vbt_slow", "slow", nullptr, nullptr, nullptr, true},
    {"vbt_nohint", "nohint", nullptr, nullptr, nullptr, true},
    {"vbt_idle", "quick", nullptr, nullptr, nullptr, false},
};

std::wstring ownFolder()
{
    const std::wstring image = vbtest::ownImage();
    return image.substr(0, image.find_last_of(L'\\') + 1);
}

const std::wstring kLog = ownFolder() + L"vb_testservice.log";

// Polls the manager until the service is in state (bounded): it has no cheaper way to say.
bool reaches(SC_HANDLE service, DWORD state, DWORD maxMs = 10000)
{
    for (DWORD waited = 0;; waited += 20) {
        SERVICE_STATUS s{};
        if (!QueryServiceStatus(service, &s))
            return false;
        if (s.dwCurrentState == state)
            return true;
        if (waited >= maxMs)
            return false;
        Sleep(20);
    }
}

// The test services, installed and started for the run; stopped and removed again however
// the run ends. A leftover of a crashed run is removed first.
class Installed
{
public:
    Installed()
        : m_manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)),
          m_release(CreateEventW(nullptr, TRUE, FALSE, vbtest::kReleaseEvent))
    {
        if (!m_manager || !m_release) {
            vbtest::fail(__FILE__, __LINE__, "no service manager to install into");
            return;
        }
        SetEvent(m_release); // a leftover slow one stops at once
        removeAll();
        ResetEvent(m_release);
        DeleteFileW(kLog.c_str());
        const std::wstring host = L"\"" + ownFolder() + L"vb_testservice.exe\" ";
        for (const TestService& t : kServices) {
            const std::wstring name = wideOf(t.name);
            const std::wstring command =
                host + name + L" " + wideOf(t.pace) + L" \"" + kLog + L"\"";
            std::wstring needs = t.dependsOn ? wideOf(t.dependsOn) : std::wstring();
            needs.push_back(L'\0'); // a list ending in an empty name
            SC_HANDLE s = CreateServiceW(
                m_manager, name.c_str(), t.displayName ? wideOf(t.displayName).c_str() : nullptr,
                SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, needs.c_str(), nullptr,
                nullptr);
            if (!s) {
                vbtest::fail(__FILE__, __LINE__, "cannot install " + std::string(t.name));
                return;
            }
            m_services.push_back(s);
            if (t.description) {
                std::wstring text = wideOf(t.description);
                SERVICE_DESCRIPTIONW d{text.data()};
                ChangeServiceConfig2W(s, SERVICE_CONFIG_DESCRIPTION, &d);
            }
            if (t.started && (!StartServiceW(s, 0, nullptr) || !reaches(s, SERVICE_RUNNING))) {
                vbtest::fail(__FILE__, __LINE__, "cannot start " + std::string(t.name));
                return;
            }
        }
        m_ready = true;
    }
    ~Installed()
    {
        if (m_release)
            SetEvent(m_release);
        for (SC_HANDLE s : m_services)
            CloseServiceHandle(s);
        if (m_manager) {
            removeAll();
            CloseServiceHandle(m_manager);
        }
        if (m_release)
            CloseHandle(m_release);
    }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
    bool ready() const { return m_ready; }
    // Lets the slow service end its stop.
    void release() { SetEvent(m_release); }

private:
    // Dependents first, so that none is kept running by what it needs.
    void removeAll()
    {
        for (auto t = std::rbegin(kServices); t != std::rend(kServices); ++t) {
            SC_HANDLE s = OpenServiceW(m_manager, wideOf(t->name).c_str(), SERVICE_ALL_ACCESS);
            if (!s)
                continue;
            SERVICE_STATUS status{};
            ControlService(s, SERVICE_CONTROL_STOP, &status);
            if (!reaches(s, SERVICE_STOPPED))
                vbtest::fail(__FILE__, __LINE__, std::string(t->name) + " does not stop");
            DeleteService(s);
            CloseServiceHandle(s);
        }
    }

    SC_HANDLE m_manager;
    HANDLE m_release;
    std::vector<SC_HANDLE> m_services;
    bool m_ready = false;
};

ServiceRunState stateOf(const std::string& key)
{
    ServiceInfo s;
    return Win32Services().queryService(key, s) == ErrSuccess ? s.state : ServiceRunState(0);
}

// What a fix asks of the manager, counted on the way through to the real one.
struct Counts
{
    int managers = 0;
    int stops = 0;
    int polls = 0;
};

class CountingManager : public IServiceManager
{
public:
    CountingManager(std::unique_ptr<IServiceManager> inner, Counts& counts)
        : m_inner(std::move(inner)), m_counts(counts)
    {}
    uint32_t queryService(const std::string& key, ServiceInfo& out) override
    {
        return m_inner->queryService(key, out);
    }
    bool activeDependents(const std::string& key, std::vector<ServiceInfo>& out) override
    {
        if (!m_inner->activeDependents(key, out))
            return false;
        if (vbtest::underWine()) {
            // wine's EnumDependentServicesW finds none, ever: the running ones of the chain
            // as installed stand in for it, so the stop's order is still the manager's doing.
            out.clear();
            for (const TestService& t : kServices)
                if (t.dependsOn && key == t.dependsOn && stateOf(t.name) != SvcStopped) {
                    ServiceInfo d;
                    d.keyName = t.name;
                    d.state = SvcRunning;
                    out.push_back(d);
                }
        }
        return true;
    }
    uint32_t sendStop(const std::string& key, ServiceInfo& out) override
    {
        ++m_counts.stops;
        return m_inner->sendStop(key, out);
    }
    uint32_t waitForStop(const std::string& key, uint32_t maxMs, ServiceInfo& out) override
    {
        ++m_counts.polls;
        return m_inner->waitForStop(key, maxMs, out);
    }

private:
    std::unique_ptr<IServiceManager> m_inner;
    Counts& m_counts;
};

class CountingServices : public Win32Services
{
public:
    std::unique_ptr<IServiceManager> openManager() override
    {
        ++counts.managers;
        auto inner = Win32Services::openManager();
        return inner ? std::make_unique<CountingManager>(std::move(inner), counts) : nullptr;
    }
    Counts counts;
};

const ServiceInfo* find(const std::vector<ServiceInfo>& list, const std::string& key)
{
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&key](const ServiceInfo& s) { return s.keyName == key; });
    return it == list.end() ? nullptr : &*it;
}

// The keys in order, each followed by a semicolon.
std::string keysOf(const std::vector<ServiceInfo>& list)
{
    std::string keys;
    for (const ServiceInfo& s : list)
        keys += s.keyName + ';';
    return keys;
}

// The services' stop lines in the order written, each followed by a semicolon.
std::string stopLog()
{
    std::string lines;
    std::ifstream in(utf8Of(kLog));
    for (std::string line; std::getline(in, line);)
        lines += line + ';';
    return lines;
}

bool endsWithNoCase(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                      [](char a, char b) { return std::towlower(a) == std::towlower(b); });
}

} // namespace

int main()
{
    Installed installed;
    if (!installed.ready())
        return 1;
    Win32Services services;
    using vb::procs::kServiceStopMs;
    return vbtest::run({
        {"lists the running test services with their processes",
         [&] {
             std::vector<ServiceInfo> active;
             VB_REQUIRE(services.activeServices(active));
             std::vector<ProcessId> pids;
             VB_REQUIRE(Win32Processes().processIds(pids));
             for (const char* key : {"vbt_base", "vbt_mid", "vbt_top", "vbt_slow"}) {
                 const ServiceInfo* s = find(active, key);
                 VB_REQUIRE(s);
                 VB_CHECK_EQ(s->state, SvcRunning);
                 VB_CHECK(std::count(pids.begin(), pids.end(), s->processId) == 1);
                 VB_CHECK(endsWithNoCase(Win32Processes().imagePath(s->processId),
                                         "\\vb_testservice.exe"));
             }
             VB_CHECK(find(active, "vbt_base")->processId != find(active, "vbt_mid")->processId);
             VB_CHECK(!find(active, "vbt_idle"));
             VB_CHECK_EQ(find(active, "vbt_base")->displayName, std::string("Verdant test base"));
             VB_CHECK_EQ(find(active, "vbt_base")->description,
                         std::string("The chain's first link"));
             VB_CHECK_EQ(find(active, "vbt_mid")->displayName, std::string());
         }},
        {"queries and stop requests give the manager's error numbers",
         [&] {
             ServiceInfo s;
             VB_CHECK_EQ(services.queryService("vbt_missing", s), uint32_t(ErrServiceDoesNotExist));
             VB_CHECK_EQ(services.stopService("vbt_missing"), uint32_t(ErrServiceDoesNotExist));
             VB_CHECK_EQ(services.stopService("vbt_idle"), uint32_t(ErrServiceNotActive));
             VB_CHECK_EQ(services.queryService("vbt_idle", s), uint32_t(ErrSuccess));
             VB_CHECK_EQ(s.state, SvcStopped);
             VB_CHECK_EQ(s.processId, ProcessId(0));
             VB_CHECK_EQ(services.queryService("vbt_base", s), uint32_t(ErrSuccess));
             VB_CHECK_EQ(s.state, SvcRunning);
             VB_CHECK_EQ(s.displayName, std::string("Verdant test base"));
             std::vector<ServiceInfo> dependents;
             VB_CHECK(!services.activeDependents("vbt_missing", dependents));
         }},
        {"finds the chain's running dependents",
         [&] {
             std::vector<ServiceInfo> dependents;
             VB_REQUIRE(services.activeDependents("vbt_top", dependents));
             VB_CHECK(dependents.empty());
             VB_REQUIRE(services.activeDependents("vbt_mid", dependents));
             if (vbtest::underWine()) {
                 // wine: EnumDependentServicesW is a stub that finds no dependents at all.
                 VB_CHECK(dependents.empty());
                 return;
             }
             VB_CHECK_EQ(keysOf(dependents), std::string("vbt_top;"));
             VB_REQUIRE(dependents.size() == 1);
             VB_CHECK_EQ(dependents[0].state, SvcRunning);
             VB_REQUIRE(services.activeDependents("vbt_base", dependents));
             VB_CHECK(find(dependents, "vbt_mid"));
         }},
        {"stops the chain depth first through one connection",
         [&] {
             auto counting = std::make_shared<CountingServices>();
             vb::procs::ServiceManagerHandle handle(counting);
             VB_CHECK(vb::procs::stopService(handle, "vbt_base", kServiceStopMs));
             VB_CHECK_EQ(stopLog(), std::string("stop vbt_top;stop vbt_mid;stop vbt_base;"));
             for (const char* key : {"vbt_base", "vbt_mid", "vbt_top"})
                 VB_CHECK_EQ(stateOf(key), SvcStopped);
             // Stopped already: true, and nothing is sent.
             VB_CHECK(vb::procs::stopService(handle, "vbt_top", kServiceStopMs));
             VB_CHECK_EQ(counting->counts.stops, 3);
             VB_CHECK_EQ(counting->counts.managers, 1);
         }},
        {"a slow stop fails after its time, not after its wait hint",
         [&] {
             vb::procs::ServiceManagerHandle handle(std::make_shared<Win32Services>());
             const ULONGLONG start = GetTickCount64();
             VB_CHECK(!vb::procs::stopService(handle, "vbt_slow", kServiceStopMs));
             VB_CHECK(GetTickCount64() - start < vbtest::kSlowWaitHintMs);
             VB_CHECK_EQ(stateOf("vbt_slow"), SvcStopPending);
             installed.release();
         }},
        {"a stop without a wait hint is polled, not spun",
         [&] {
             auto counting = std::make_shared<CountingServices>();
             vb::procs::ServiceManagerHandle handle(counting);
             VB_CHECK(vb::procs::stopService(handle, "vbt_nohint", kServiceStopMs));
             VB_CHECK(counting->counts.polls >= 1);
             VB_CHECK(counting->counts.polls <= int(kServiceStopMs / kStopPollFloorMs) + 1);
         }},
    });
}

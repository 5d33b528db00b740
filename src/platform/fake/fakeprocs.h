// SPDX-License-Identifier: GPL-3.0-or-later
// Scriptable processes, services, windows and volumes for tests of the boost lists' edge
// cases: ids the kernel would never hand out on demand, processes that vanish mid-pass,
// services in every state, windows of every kind (volumes: fakevolumes.h).
#pragma once

#include "platform/fake/fakevolumes.h"
#include "platform/platform.h"

#include <functional>
#include <map>
#include <set>

namespace vb::platform::fake {

class FakeProcesses : public IProcesses
{
public:
    struct Proc
    {
        std::string path;
        std::optional<uint64_t> rss = 0;
        uint32_t access = ErrSuccess; // what opening the process answers
        uint64_t start = 0;
        bool endable = true; // false: terminating it fails
    };
    std::map<ProcessId, Proc> procs;
    std::vector<ProcessId> order; // the id order to report; empty: ascending
    bool failEnum = false;
    std::vector<uint32_t> enumCapacities; // the byte sizes asked for, call by call
    ProcessId self = 4242;
    // Runs before a process's memory is read: lets a test end a process mid-pass.
    std::function<void(ProcessId)> beforeMemory;

    bool processIds(std::vector<ProcessId>& ids) override
    {
        if (failEnum)
            return false;
        ids = order;
        if (ids.empty())
            for (const auto& p : procs)
                ids.push_back(p.first);
        return true;
    }
    bool enumProcesses(ProcessId* ids, uint32_t capacityBytes, uint32_t& bytesReturned) override
    {
        enumCapacities.push_back(capacityBytes);
        return IProcesses::enumProcesses(ids, capacityBytes, bytesReturned);
    }
    std::string imagePath(ProcessId pid) override
    {
        auto it = procs.find(pid);
        return it == procs.end() || it->second.access != ErrSuccess ? std::string()
                                                                    : it->second.path;
    }
    std::optional<uint64_t> workingSetBytes(ProcessId pid) override
    {
        if (beforeMemory)
            beforeMemory(pid);
        auto it = procs.find(pid);
        if (it == procs.end() || it->second.access != ErrSuccess)
            return std::nullopt;
        return it->second.rss;
    }
    uint32_t queryAccess(ProcessId pid) override
    {
        auto it = procs.find(pid);
        return it == procs.end() ? uint32_t(ErrInvalidParameter) : it->second.access;
    }
    uint64_t startTime(ProcessId pid) override
    {
        auto it = procs.find(pid);
        return it == procs.end() ? 0 : it->second.start;
    }
    std::vector<ProcessId> terminated; // in order
    bool terminate(ProcessId pid, uint64_t start, uint32_t) override
    {
        auto it = procs.find(pid);
        if (it == procs.end() || !it->second.endable || (start && it->second.start != start))
            return false;
        procs.erase(it);
        terminated.push_back(pid);
        return true;
    }
    ProcessId currentProcessId() override { return self; }
};

// A service as the manager lists it, and a top-level window: the fakes' rows in one line.
inline ServiceInfo service(const char* key, ProcessId pid, ServiceRunState state = SvcRunning,
                           const char* display = "")
{
    ServiceInfo s;
    s.keyName = key;
    s.displayName = display;
    s.processId = pid;
    s.state = state;
    return s;
}
inline TopLevelWindow window(uintptr_t id, ProcessId pid, bool visible = true, bool owned = false,
                             bool tool = false)
{
    TopLevelWindow w;
    w.id = id;
    w.pid = pid;
    w.visible = visible;
    w.owned = owned;
    w.tool = tool;
    return w;
}

class FakeServices : public IServices
{
public:
    bool reachable = true;
    std::vector<ServiceInfo> services; // in the manager's order, any state
    std::map<std::string, std::vector<std::string>> dependents;
    std::vector<std::string> stopped; // stop requests, in order
    std::set<std::string> refused;    // their stop is refused (access denied)
    int managersOpened = 0;
    // The heads of the session's application units; none: this manager keeps no such units.
    std::optional<std::vector<ProcessId>> applications;

    bool applicationProcesses(std::vector<ProcessId>& out) override
    {
        out = applications.value_or(std::vector<ProcessId>());
        return reachable && applications.has_value();
    }

    bool activeServices(std::vector<ServiceInfo>& out) override
    {
        out.clear();
        if (!reachable)
            return false;
        for (const ServiceInfo& s : services)
            if (s.state != SvcStopped)
                out.push_back(s);
        return true;
    }
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override
    {
        out.clear();
        if (!reachable)
            return false;
        for (const std::string& d : dependents[keyName]) {
            ServiceInfo s;
            if (queryService(d, s) == ErrSuccess && s.state != SvcStopped)
                out.push_back(s);
        }
        return true;
    }
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override
    {
        for (const ServiceInfo& s : services)
            if (s.keyName == keyName) {
                out = s;
                return ErrSuccess;
            }
        return ErrServiceDoesNotExist;
    }
    uint32_t stopService(const std::string& keyName) override
    {
        for (ServiceInfo& s : services)
            if (s.keyName == keyName) {
                if (s.state == SvcStopped)
                    return ErrServiceNotActive;
                if (refused.count(keyName))
                    return ErrAccessDenied;
                stopped.push_back(keyName);
                s.state = SvcStopped;
                return ErrSuccess;
            }
        return ErrServiceDoesNotExist;
    }

    // Stops take effect at once, so waiting never blocks.
    class Manager : public IServiceManager
    {
    public:
        explicit Manager(FakeServices& s) : m_s(s) {}
        uint32_t queryService(const std::string& k, ServiceInfo& out) override
        {
            return m_s.queryService(k, out);
        }
        bool activeDependents(const std::string& k, std::vector<ServiceInfo>& out) override
        {
            return m_s.activeDependents(k, out);
        }
        uint32_t sendStop(const std::string& k, ServiceInfo& out) override
        {
            const uint32_t e = m_s.stopService(k);
            if (e == ErrSuccess)
                m_s.queryService(k, out);
            return e;
        }
        uint32_t waitForStop(const std::string& k, uint32_t, ServiceInfo& out) override
        {
            return m_s.queryService(k, out);
        }

    private:
        FakeServices& m_s;
    };
    std::unique_ptr<IServiceManager> openManager() override
    {
        if (!reachable)
            return nullptr;
        ++managersOpened;
        return std::make_unique<Manager>(*this);
    }
};

class FakeWindows : public ITopLevelWindows
{
public:
    std::vector<TopLevelWindow> windows;
    bool walkOk = true;
    ProcessId shell = 0;
    std::vector<uintptr_t> activated;

    bool topLevelWindows(std::vector<TopLevelWindow>& out) override
    {
        out = windows;
        return walkOk;
    }
    ProcessId shellProcessId() override { return shell; }
    void activateWindow(uintptr_t window) override { activated.push_back(window); }
};

} // namespace vb::platform::fake

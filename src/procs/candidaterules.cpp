// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/candidaterules.h"

#include <map>
#include <set>

using namespace vb::platform;

bool enumServiceCandidates(const std::shared_ptr<IServices>& services, const ServiceCandidateFn& fn)
{
    if (!services)
        return false;
    std::vector<ServiceInfo> list;
    if (!services->activeServices(list))
        return false;
    for (const ServiceInfo& s : list) {
        if (s.state == SvcStopped || s.state == SvcStopPending)
            continue;
        fn(s);
    }
    return true;
}

bool enumWindowCandidates(const std::shared_ptr<ITopLevelWindows>& windows,
                          const WindowCandidateFn& fn, const std::shared_ptr<IServices>& services)
{
    std::vector<TopLevelWindow> all;
    const bool ok = windows && windows->topLevelWindows(all);
    // Only the keys matter: one call per process, however many windows it shows.
    std::map<ProcessId, std::set<uintptr_t>> byProcess;
    for (const TopLevelWindow& w : all) {
        if (w.owned || !w.visible || w.tool)
            continue;
        byProcess[w.pid].insert(w.id);
    }
    // An application the desktop started in a unit of its own is one the user opened, windowed
    // or not as X sees it.
    std::vector<ProcessId> applications;
    if (services && services->applicationProcesses(applications))
        for (const ProcessId pid : applications)
            byProcess[pid];
    for (const auto& entry : byProcess)
        fn(entry.first);
    return ok;
}

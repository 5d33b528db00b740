// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/platform.h"

#include <mutex>

namespace vb::platform {

namespace {
std::mutex g_mutex;
Platform* g_current = nullptr;

template <typename T> void keep(std::shared_ptr<T>& into, const std::shared_ptr<T>& from)
{
    if (from)
        into = from;
}
} // namespace

Platform& current()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_current)
        g_current = new Platform(makeNative()); // lives as long as the process
    return *g_current;
}

void install(const Platform& p)
{
    Platform& c = current();
    std::lock_guard<std::mutex> lock(g_mutex);
    keep(c.screens, p.screens);
    keep(c.hotKeys, p.hotKeys);
    keep(c.processes, p.processes);
    keep(c.memory, p.memory);
    keep(c.workingSets, p.workingSets);
    keep(c.services, p.services);
    keep(c.windows, p.windows);
    keep(c.volumes, p.volumes);
    keep(c.network, p.network);
    keep(c.elevation, p.elevation);
    keep(c.filterDevice, p.filterDevice);
    keep(c.driverService, p.driverService);
}

} // namespace vb::platform

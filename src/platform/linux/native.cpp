// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux backend's factory: the one place that knows which classes make up this OS's seam.
#include "platform/linux/filterclient.h"
#include "platform/linux/identityvolumes.h"
#include "platform/linux/networkstate.h"
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/qtscreens.h"
#include "platform/linux/releaseworkingsets.h"
#include "platform/linux/systemdservices.h"
#include "platform/linux/xcbhotkeys.h"
#include "platform/linux/xcbwindows.h"
#include "platform/platform.h"
#include "platform/sessionservices.h"

namespace vb::platform {

Platform makeNative()
{
    Platform p;
    p.screens = std::make_shared<linux_::QtScreens>();
    p.hotKeys = std::make_shared<linux_::XcbHotKeys>();
    p.processes = std::make_shared<linux_::ProcfsProcesses>();
    p.memory = std::make_shared<linux_::ProcfsMemory>();
    p.workingSets = std::make_shared<linux_::ReleaseWorkingSets>();
    // The user's own units (and the desktop's application units) live with the session's
    // manager; a user without one still gets the system's.
    p.services = std::make_shared<SystemAndSessionServices>(
        std::make_shared<linux_::SystemdServices>(),
        std::make_shared<linux_::SystemdServices>(std::string(), linux_::ManagerBus::Session));
    p.windows = std::make_shared<linux_::XcbWindows>();
    p.volumes = std::make_shared<linux_::IdentityVolumes>();
    p.elevation = std::make_shared<linux_::LinuxElevation>();
    p.filterDevice = std::make_shared<linux_::SocketFilterDevice>();
    p.driverService = std::make_shared<linux_::FilterService>();
    p.network = std::make_shared<linux_::LinuxNetworkState>();
    return p;
}

Platform makeNativeProcessViews()
{
    Platform p;
    p.processes = std::make_shared<linux_::ProcfsProcesses>();
    p.windows = std::make_shared<linux_::XcbWindows>();
    return p;
}

} // namespace vb::platform

// SPDX-License-Identifier: GPL-3.0-or-later
// The set of platform backends the library uses. The composition root fills one (the build's
// native backend) and hands it to the objects it creates; tests hand in fakes the same way.
#pragma once

#include "platform/elevation.h"
#include "platform/filterdevice.h"
#include "platform/hotkey.h"
#include "platform/memory.h"
#include "platform/network.h"
#include "platform/processes.h"
#include "platform/screens.h"
#include "platform/services.h"
#include "platform/toplevelwindows.h"
#include "platform/volumes.h"

#include <memory>

namespace vb::platform {

struct Platform
{
    std::shared_ptr<IScreens> screens;
    std::shared_ptr<IHotKeys> hotKeys;
    std::shared_ptr<IProcesses> processes;
    std::shared_ptr<ISystemMemory> memory;
    std::shared_ptr<IWorkingSets> workingSets;
    std::shared_ptr<IServices> services;
    std::shared_ptr<ITopLevelWindows> windows;
    std::shared_ptr<IVolumes> volumes;
    std::shared_ptr<INetworkState> network;
    std::shared_ptr<IElevation> elevation;
    std::shared_ptr<IFilterDevice> filterDevice;
    std::shared_ptr<IDriverService> driverService;
};

// The build's native backend, made anew.
Platform makeNative();
// Only the native processes and windows backends, the rest left empty: what the library needs
// while it loads, made without reaching a bus, a display or a socket.
Platform makeNativeProcessViews();

} // namespace vb::platform

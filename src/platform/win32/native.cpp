// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows backend as the composition root sees it; an interface without a Windows
// implementation yet stays empty.
#include "platform/platform.h"
#include "platform/win32/win32filter.h"
#include "platform/win32/win32hotkeys.h"
#include "platform/win32/win32memory.h"
#include "platform/win32/win32network.h"
#include "platform/win32/win32processes.h"
#include "platform/win32/win32screens.h"
#include "platform/win32/win32services.h"
#include "platform/win32/win32volumes.h"
#include "platform/win32/win32windows.h"

namespace vb::platform {

Platform makeNative()
{
    Platform p;
    p.processes = std::make_shared<win32::Win32Processes>();
    p.memory = std::make_shared<win32::Win32SystemMemory>();
    p.workingSets = std::make_shared<win32::Win32WorkingSets>();
    p.volumes = std::make_shared<win32::Win32Volumes>();
    p.network = std::make_shared<win32::Win32NetworkState>();
    p.screens = std::make_shared<win32::Win32Screens>();
    p.hotKeys = std::make_shared<win32::Win32HotKeys>();
    p.windows = std::make_shared<win32::Win32TopLevelWindows>();
    p.elevation = std::make_shared<win32::Win32Elevation>();
    p.filterDevice = std::make_shared<win32::Win32FilterDevice>();
    p.driverService = std::make_shared<win32::Win32DriverService>();
    p.services = std::make_shared<win32::Win32Services>();
    return p;
}

Platform makeNativeProcessViews()
{
    Platform p;
    p.processes = std::make_shared<win32::Win32Processes>();
    p.windows = std::make_shared<win32::Win32TopLevelWindows>();
    return p;
}

} // namespace vb::platform

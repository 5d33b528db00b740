// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows backend as the composition root sees it. Processes, working sets, memory,
// drives, the network state and services are here so far; the interfaces without a Windows
// implementation yet stay empty.
#include "platform/platform.h"
#include "platform/win32/win32memory.h"
#include "platform/win32/win32network.h"
#include "platform/win32/win32processes.h"
#include "platform/win32/win32services.h"
#include "platform/win32/win32volumes.h"

namespace vb::platform {

Platform makeNative()
{
    Platform p;
    p.processes = std::make_shared<win32::Win32Processes>();
    p.memory = std::make_shared<win32::Win32SystemMemory>();
    p.workingSets = std::make_shared<win32::Win32WorkingSets>();
    p.volumes = std::make_shared<win32::Win32Volumes>();
    p.network = std::make_shared<win32::Win32NetworkState>();
    p.services = std::make_shared<win32::Win32Services>();
    return p;
}

Platform makeNativeProcessViews()
{
    Platform p;
    p.processes = std::make_shared<win32::Win32Processes>();
    return p;
}

} // namespace vb::platform

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32memory.h"

#include "platform/win32/winapi.h"

namespace vb::platform::win32 {

bool Win32SystemMemory::memoryStatus(MemoryStatus& out)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status); // 64: every other member zero
    if (!GlobalMemoryStatusEx(&status))
        return false;
    out.memoryLoad = status.dwMemoryLoad;
    out.totalPhysBytes = status.ullTotalPhys;
    out.availPhysBytes = status.ullAvailPhys;
    out.freePhysBytes = status.ullAvailPhys;
    return true;
}

bool Win32SystemMemory::systemTimes(SystemTimes& out)
{
    FILETIME idle{}, kernel{}, user{};
    if (!GetSystemTimes(&idle, &kernel, &user))
        return false;
    out.idle = ticksOf(idle);
    out.kernel = ticksOf(kernel);
    out.user = ticksOf(user);
    return true;
}

uint32_t Win32SystemMemory::tickCountMs()
{
    return GetTickCount();
}

void Win32SystemMemory::sleepMs(uint32_t ms)
{
    Sleep(ms);
}

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32screens.h"

#include "platform/win32/winapi.h"

#include <algorithm>

namespace vb::platform::win32 {

namespace {

Rect rectOf(const RECT& r)
{
    return Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

struct Monitor
{
    Rect work;
    bool primary = false;
};

BOOL CALLBACK collect(HMONITOR monitor, HDC, LPRECT, LPARAM param)
{
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info))
        reinterpret_cast<std::vector<Monitor>*>(param)->push_back(
            Monitor{rectOf(info.rcWork), (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
    return TRUE;
}

// The system's own idea of the primary work area, for when the monitors cannot be walked.
Rect systemWorkArea()
{
    RECT r{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0))
        return rectOf(r);
    return Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

} // namespace

Rect Win32Screens::primaryAvailableGeometry() const
{
    // The primary monitor is the one holding the desktop's origin.
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    if (primary && GetMonitorInfoW(primary, &info))
        return rectOf(info.rcWork);
    return systemWorkArea();
}

std::vector<Rect> Win32Screens::availableGeometries() const
{
    std::vector<Monitor> monitors;
    if (!EnumDisplayMonitors(nullptr, nullptr, collect, reinterpret_cast<LPARAM>(&monitors)) ||
        monitors.empty())
        return {systemWorkArea()};
    std::stable_partition(monitors.begin(), monitors.end(),
                          [](const Monitor& m) { return m.primary; });
    std::vector<Rect> out;
    out.reserve(monitors.size());
    for (const Monitor& m : monitors)
        out.push_back(m.work);
    return out;
}

} // namespace vb::platform::win32

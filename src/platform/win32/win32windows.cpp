// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32windows.h"

#include "platform/win32/winapi.h"

namespace vb::platform::win32 {

namespace {

HWND hwndOf(uintptr_t id)
{
    return reinterpret_cast<HWND>(id);
}

ProcessId processOf(HWND window)
{
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(window, &pid))
        return 0;
    return pid;
}

BOOL CALLBACK collect(HWND window, LPARAM param)
{
    auto* out = reinterpret_cast<std::vector<TopLevelWindow>*>(param);
    if (!out)
        return FALSE;
    TopLevelWindow w;
    w.id = reinterpret_cast<uintptr_t>(window);
    w.pid = processOf(window);
    // A minimised window keeps WS_VISIBLE, so it counts as shown here too.
    w.visible = IsWindowVisible(window) != FALSE;
    w.owned = GetWindow(window, GW_OWNER) != nullptr;
    w.tool = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
    out->push_back(w);
    return TRUE;
}

} // namespace

bool Win32TopLevelWindows::topLevelWindows(std::vector<TopLevelWindow>& out)
{
    return EnumWindows(collect, reinterpret_cast<LPARAM>(&out)) != FALSE;
}

ProcessId Win32TopLevelWindows::shellProcessId()
{
    const HWND shell = GetShellWindow();
    return shell ? processOf(shell) : 0;
}

void Win32TopLevelWindows::activateWindow(uintptr_t window)
{
    const HWND w = hwndOf(window);
    if (IsIconic(w))
        ShowWindow(w, SW_RESTORE);
    SetForegroundWindow(w);
}

} // namespace vb::platform::win32

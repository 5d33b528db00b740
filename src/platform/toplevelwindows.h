// SPDX-License-Identifier: GPL-3.0-or-later
// Top-level windows with their owning processes, and the desktop shell process.
#pragma once

#include "platform/types.h"

namespace vb::platform {

struct TopLevelWindow
{
    uintptr_t id = 0;
    ProcessId pid = 0;    // 0 when the owning process is unknown
    bool visible = false; // shown or minimised (not withdrawn, not hidden)
    bool owned = false;   // has an owner window (a dialog or transient of another)
    bool tool = false;    // a tool window: not offered in task bars (utility, dock, ...)
};

class ITopLevelWindows
{
public:
    virtual ~ITopLevelWindows() = default;
    // All top-level windows in the window system's order. False when the walk failed; the
    // windows found before the failure are still in out.
    virtual bool topLevelWindows(std::vector<TopLevelWindow>& out) = 0;
    // The desktop shell's process (the window manager here), 0 when unknown.
    virtual ProcessId shellProcessId() = 0;
    // Brings a native window to the foreground.
    virtual void activateWindow(uintptr_t window) = 0;
};

} // namespace vb::platform

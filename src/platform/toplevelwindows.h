// SPDX-License-Identifier: GPL-3.0-or-later
// Processes that own visible top-level windows, and the desktop shell process.
#pragma once

#include "platform/types.h"

namespace vb::platform {

class ITopLevelWindows
{
public:
    virtual ~ITopLevelWindows() = default;
    // Process ids owning at least one visible top-level window, in window order, with repeats.
    virtual bool visibleWindowProcesses(std::vector<ProcessId>& out) = 0;
    // The desktop shell's process (the window manager here), 0 when unknown.
    virtual ProcessId shellProcessId() = 0;
    // Brings a native window to the foreground.
    virtual void activateWindow(uintptr_t window) = 0;
};

} // namespace vb::platform

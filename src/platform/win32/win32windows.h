// SPDX-License-Identifier: GPL-3.0-or-later
// Top-level windows of the desktop with their processes, and the shell (the process that owns
// the shell window, Explorer on a desktop).
#pragma once

#include "platform/toplevelwindows.h"

namespace vb::platform::win32 {

class Win32TopLevelWindows : public ITopLevelWindows
{
public:
    bool topLevelWindows(std::vector<TopLevelWindow>& out) override;
    ProcessId shellProcessId() override;
    // Windows may refuse the foreground to a process that is not the foreground one; the window
    // then flashes in the task bar instead, which is all the user sees of a refusal.
    void activateWindow(uintptr_t window) override;
};

} // namespace vb::platform::win32

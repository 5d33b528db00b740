// SPDX-License-Identifier: GPL-3.0-or-later
// Top-level windows of the X display through a connection of our own (the pass may run where
// Qt uses another platform), and the window manager as the desktop shell.
#pragma once

#include "platform/toplevelwindows.h"

#include <mutex>

struct xcb_connection_t;

namespace vb::platform::linux_ {

class XcbWindows : public ITopLevelWindows
{
public:
    // display empty: $DISPLAY.
    explicit XcbWindows(std::string display = std::string());
    ~XcbWindows() override;
    bool topLevelWindows(std::vector<TopLevelWindow>& out) override;
    ProcessId shellProcessId() override;
    void activateWindow(uintptr_t window) override;

private:
    struct Atoms;
    bool ensureConnected();
    uint32_t managerWindow();
    ProcessId pidOf(uint32_t window, bool allowNetWmPid);

    std::string m_display;
    xcb_connection_t* m_conn = nullptr;
    uint32_t m_root = 0;
    bool m_hasRes = false;
    Atoms* m_atoms = nullptr;
    std::mutex m_mutex;
};

} // namespace vb::platform::linux_

// SPDX-License-Identifier: GPL-3.0-or-later
// System-wide hot keys through RegisterHotKey.
//
// How a press reaches the handler: Windows posts WM_HOTKEY to the queue of the thread that
// owns the registered window, so the handler runs on that thread from its ordinary message
// loop, with nothing for the caller to forward:
// - a window given: it is subclassed (comctl32's SetWindowSubclass) while it has hot keys, and
//   the subclass procedure takes its WM_HOTKEY; every other message goes on unchanged;
// - window 0: the keys go to a message-only window of our own, created on the first such call
//   on that thread.
// RegisterHotKey only accepts windows of the calling thread, so every call, and the destructor,
// belongs on the thread that pumps the window's messages (the GUI thread).
#pragma once

#include "platform/hotkey.h"

#include <map>
#include <utility>

namespace vb::platform::win32 {

class Win32HotKeys : public IHotKeys
{
public:
    Win32HotKeys() = default;
    Win32HotKeys(const Win32HotKeys&) = delete;
    Win32HotKeys& operator=(const Win32HotKeys&) = delete;
    ~Win32HotKeys() override;
    // Conflict when another registration holds the combination (error 1409); Failed for any
    // other refusal (a window of another thread, a destroyed window, ...).
    HotKeyResult registerHotKey(uintptr_t window, int id, unsigned modifiers, unsigned virtualKey,
                                Handler onPressed) override;
    void unregisterHotKey(uintptr_t window, int id) override;

    // Runs the handler of a WM_HOTKEY for one of our registrations; false when it is not ours.
    // The window procedures call it; a message loop that sees WM_HOTKEY itself may too.
    bool dispatch(uintptr_t window, int id);

private:
    uintptr_t target(uintptr_t window);
    void release(uintptr_t target);

    std::map<std::pair<uintptr_t, int>, Handler> m_handlers; // by registered window and id
    uintptr_t m_helper = 0; // our message-only window, once window 0 was asked for
};

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
// The Ctrl+Alt+C hot key that asks for a screen capture. Registration is tried again on each
// showing of the ball until it succeeds, and never twice after that.
#pragma once

#include "platform/hotkey.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace vb::ball {

class CaptureHotKey
{
public:
    // The hot key's identifier, modifiers (Ctrl+Alt) and key (C).
    static constexpr int kId = 1;
    static constexpr unsigned kModifiers = platform::ModControl | platform::ModAlt;
    static constexpr unsigned kVirtualKey = 0x43;

    // Without a backend nothing is ever registered.
    explicit CaptureHotKey(std::shared_ptr<platform::IHotKeys> keys);

    // Registers the key for window unless that already succeeded; onPressed runs on each press.
    // Returns whether the key is registered now.
    bool ensureRegistered(uintptr_t window, std::function<void()> onPressed);
    bool isRegistered() const { return m_registered; }

private:
    std::shared_ptr<platform::IHotKeys> m_keys;
    bool m_registered = false;
};

} // namespace vb::ball

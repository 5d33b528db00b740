// SPDX-License-Identifier: GPL-3.0-or-later
// System-wide hot keys, registered for a window with Windows' modifier and key numbers.
#pragma once

#include <cstdint>
#include <functional>

namespace vb::platform {

enum HotKeyModifier : unsigned { ModAlt = 0x1, ModControl = 0x2, ModShift = 0x4, ModWin = 0x8 };

enum class HotKeyResult { Registered, Conflict, Failed };

class IHotKeys
{
public:
    virtual ~IHotKeys() = default;
    using Handler = std::function<void(int id)>;
    // Grabs modifiers+virtualKey ('A'..'Z' as 0x41..0x5A) for the given native window.
    // The handler runs on the GUI thread each time the key is pressed.
    virtual HotKeyResult registerHotKey(uintptr_t window, int id, unsigned modifiers,
                                        unsigned virtualKey, Handler onPressed) = 0;
    virtual void unregisterHotKey(uintptr_t window, int id) = 0;
};

} // namespace vb::platform

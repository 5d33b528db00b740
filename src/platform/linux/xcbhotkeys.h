// SPDX-License-Identifier: GPL-3.0-or-later
// Global hot keys on X11: passive key grabs on the root window through Qt's own xcb connection.
#pragma once

#include "platform/hotkey.h"

#include <QAbstractNativeEventFilter>

#include <map>
#include <memory>

namespace vb::platform::linux_ {

class XcbHotKeys : public IHotKeys
{
public:
    XcbHotKeys();
    ~XcbHotKeys() override;
    HotKeyResult registerHotKey(uintptr_t window, int id, unsigned modifiers, unsigned virtualKey,
                                Handler onPressed) override;
    void unregisterHotKey(uintptr_t window, int id) override;

    // Maps Windows modifier flags to the X11 modifier mask (exposed for tests).
    static uint16_t xModifiers(unsigned modifiers);

private:
    struct Grab
    {
        uint8_t keycode = 0;
        uint16_t mods = 0;
        Handler handler;
    };
    class Filter;
    bool dispatch(uint8_t keycode, uint16_t state);
    void ungrab(const Grab& g);

    std::map<std::pair<uintptr_t, int>, Grab> m_grabs;
    std::unique_ptr<Filter> m_filter;
};

} // namespace vb::platform::linux_

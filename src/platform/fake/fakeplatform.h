// SPDX-License-Identifier: GPL-3.0-or-later
// A scriptable in-memory backend, so tests reach edge cases the real machine will not show
// on demand (two screens, a hot key already taken, ...).
#pragma once

#include "platform/platform.h"

#include <map>

namespace vb::platform::fake {

class FakeScreens : public IScreens
{
public:
    std::vector<Rect> areas{Rect{0, 0, 1920, 1040}}; // the primary first
    Rect primaryAvailableGeometry() const override { return areas.empty() ? Rect{} : areas[0]; }
    std::vector<Rect> availableGeometries() const override { return areas; }
};

class FakeHotKeys : public IHotKeys
{
public:
    struct Entry
    {
        uintptr_t window;
        unsigned modifiers;
        unsigned virtualKey;
        Handler handler;
    };
    HotKeyResult nextResult = HotKeyResult::Registered;
    int attempts = 0;
    std::map<int, Entry> registered;

    HotKeyResult registerHotKey(uintptr_t window, int id, unsigned modifiers, unsigned virtualKey,
                                Handler onPressed) override
    {
        ++attempts;
        if (nextResult == HotKeyResult::Registered)
            registered[id] = Entry{window, modifiers, virtualKey, std::move(onPressed)};
        return nextResult;
    }
    void unregisterHotKey(uintptr_t, int id) override { registered.erase(id); }
    // Simulates the user pressing the key registered under id.
    bool press(int id)
    {
        auto it = registered.find(id);
        if (it == registered.end() || !it->second.handler)
            return false;
        it->second.handler(id);
        return true;
    }
};

} // namespace vb::platform::fake

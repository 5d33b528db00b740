// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32hotkeys.h"

#include "platform/win32/winapi.h"

#include <commctrl.h>

#include <climits>

namespace vb::platform::win32 {

static_assert(ModAlt == MOD_ALT && ModControl == MOD_CONTROL && ModShift == MOD_SHIFT &&
                  ModWin == MOD_WIN,
              "the seam's modifier numbers are Windows' own");

namespace {

constexpr UINT_PTR SubclassId = 0x766268; // ours among the window's subclasses
constexpr wchar_t HelperClass[] = L"VerdantBallHotKeys";

HWND hwndOf(uintptr_t id)
{
    return reinterpret_cast<HWND>(id);
}

bool takeHotKey(Win32HotKeys* keys, HWND window, WPARAM id)
{
    return keys && keys->dispatch(reinterpret_cast<uintptr_t>(window), static_cast<int>(id));
}

LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR data)
{
    if (message == WM_HOTKEY && takeHotKey(reinterpret_cast<Win32HotKeys*>(data), window, wParam))
        return 0;
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(window, subclassProc, SubclassId);
    return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK helperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HOTKEY) {
        auto* keys = reinterpret_cast<Win32HotKeys*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (takeHotKey(keys, window, wParam))
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createHelper(Win32HotKeys* keys)
{
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = helperProc;
    cls.hInstance = module;
    cls.lpszClassName = HelperClass;
    // A second instance finds the class registered already; that is fine.
    if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    const HWND w =
        CreateWindowExW(0, HelperClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (w)
        SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(keys));
    return w;
}

} // namespace

Win32HotKeys::~Win32HotKeys()
{
    for (const auto& entry : m_handlers) {
        const HWND w = hwndOf(entry.first.first);
        UnregisterHotKey(w, entry.first.second);
        if (entry.first.first != m_helper) // once per window would do; again is harmless
            RemoveWindowSubclass(w, subclassProc, SubclassId);
    }
    if (m_helper)
        DestroyWindow(hwndOf(m_helper));
}

uintptr_t Win32HotKeys::target(uintptr_t window)
{
    if (window != 0)
        return window;
    if (!m_helper)
        m_helper = reinterpret_cast<uintptr_t>(createHelper(this));
    return m_helper;
}

HotKeyResult Win32HotKeys::registerHotKey(uintptr_t window, int id, unsigned modifiers,
                                          unsigned virtualKey, Handler onPressed)
{
    const uintptr_t to = target(window);
    if (to == 0)
        return HotKeyResult::Failed;
    const HWND w = hwndOf(to);
    if (!RegisterHotKey(w, id, modifiers, virtualKey))
        return GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED ? HotKeyResult::Conflict
                                                                 : HotKeyResult::Failed;
    // Setting it again for a window we subclass already only updates the data.
    if (to != m_helper &&
        !SetWindowSubclass(w, subclassProc, SubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        UnregisterHotKey(w, id);
        return HotKeyResult::Failed;
    }
    m_handlers[{to, id}] = std::move(onPressed);
    return HotKeyResult::Registered;
}

void Win32HotKeys::unregisterHotKey(uintptr_t window, int id)
{
    const uintptr_t to = window != 0 ? window : m_helper;
    const auto it = m_handlers.find({to, id});
    if (it == m_handlers.end())
        return;
    UnregisterHotKey(hwndOf(to), id);
    m_handlers.erase(it);
    release(to);
}

// A window without hot keys of ours any more gets its own procedure back.
void Win32HotKeys::release(uintptr_t to)
{
    if (to == m_helper)
        return;
    const auto next = m_handlers.lower_bound({to, INT_MIN});
    if (next == m_handlers.end() || next->first.first != to)
        RemoveWindowSubclass(hwndOf(to), subclassProc, SubclassId);
}

bool Win32HotKeys::dispatch(uintptr_t window, int id)
{
    const auto it = m_handlers.find({window, id});
    if (it == m_handlers.end())
        return false;
    // A copy: the handler may unregister itself.
    const Handler handler = it->second;
    if (handler)
        handler(id);
    return true;
}

} // namespace vb::platform::win32

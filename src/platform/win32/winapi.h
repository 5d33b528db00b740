// SPDX-License-Identifier: GPL-3.0-or-later
// The one place <windows.h> comes in, with the settings every Windows source of the backend
// shares, and the small helpers they all need.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <utility>

namespace vb::platform::win32 {

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean none.
class Handle
{
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : m_h(o.release()) {}
    Handle& operator=(Handle&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    ~Handle() { reset(); }
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    HANDLE release()
    {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }
    void reset(HANDLE h = nullptr)
    {
        if (valid())
            CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

// Owns one handle of the service control manager (the manager's or a service's).
class ScHandle
{
public:
    ScHandle() = default;
    explicit ScHandle(SC_HANDLE h) : m_h(h) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ScHandle(ScHandle&& o) noexcept : m_h(o.m_h) { o.m_h = nullptr; }
    ScHandle& operator=(ScHandle&& o) noexcept
    {
        std::swap(m_h, o.m_h);
        return *this;
    }
    ~ScHandle()
    {
        if (m_h)
            CloseServiceHandle(m_h);
    }
    SC_HANDLE get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    SC_HANDLE m_h = nullptr;
};

// UTF-16 from the system to the UTF-8 the seam carries, and back.
std::string utf8Of(const wchar_t* text, size_t length);
inline std::string utf8Of(const std::wstring& text)
{
    return utf8Of(text.data(), text.size());
}
std::wstring wideOf(const std::string& text);

// A FILETIME as one 64-bit count of 100-nanosecond units.
inline uint64_t ticksOf(const FILETIME& t)
{
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

} // namespace vb::platform::win32

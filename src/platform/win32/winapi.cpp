// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/winapi.h"

namespace vb::platform::win32 {

std::string utf8Of(const wchar_t* text, size_t length)
{
    if (length == 0)
        return {};
    const int n = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, n, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring wideOf(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0);
    if (chars <= 0)
        return {};
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), n, out.data(), chars);
    return out;
}

} // namespace vb::platform::win32

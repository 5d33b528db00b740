// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32volumes.h"

#include "platform/win32/winapi.h"

#include <set>

namespace vb::platform::win32 {

namespace {

// The device name buffer, in characters.
constexpr DWORD DeviceNameChars = 260;

std::wstring logicalDriveStrings()
{
    // The answer is the length it needs when the buffer is too small; drives may come and go
    // between the calls, so ask until it fits (a few times at most).
    std::wstring buf(128, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n = GetLogicalDriveStringsW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0)
            return {};
        if (n < buf.size())
            return buf.substr(0, n);
        buf.assign(n + 1, L'\0');
    }
    return {};
}

std::wstring firstDeviceOf(const std::wstring& drive)
{
    wchar_t target[DeviceNameChars];
    if (!QueryDosDeviceW(drive.c_str(), target, DeviceNameChars))
        return {};
    return std::wstring(target); // the first name, up to its zero
}

} // namespace

std::vector<std::pair<std::string, std::string>>
Win32Volumes::driveMapOf(const std::wstring& driveStrings,
                         const std::function<std::wstring(const std::wstring&)>& deviceOf)
{
    std::vector<std::pair<std::string, std::string>> map;
    std::set<std::wstring> seen;
    size_t pos = 0;
    while (pos < driveStrings.size() && driveStrings[pos] != L'\0') {
        size_t end = driveStrings.find(L'\0', pos);
        if (end == std::wstring::npos)
            end = driveStrings.size();
        const std::wstring root = driveStrings.substr(pos, end - pos);
        pos = end + 1;
        // Only drive letters: "C:\" names the drive "C:"; anything else is no drive.
        if (root.size() < 2 || root[1] != L':' || !iswalpha(root[0]))
            continue;
        const std::wstring drive = root.substr(0, 2);
        const std::wstring device = deviceOf(drive);
        if (device.empty() || !seen.insert(device).second)
            continue;
        map.emplace_back(utf8Of(device), utf8Of(drive));
    }
    return map;
}

std::vector<std::pair<std::string, std::string>> Win32Volumes::driveMap()
{
    return driveMapOf(logicalDriveStrings(), firstDeviceOf);
}

} // namespace vb::platform::win32

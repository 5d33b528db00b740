// SPDX-License-Identifier: GPL-3.0-or-later
// The drive letters of the mounted volumes and the device names behind them.
#pragma once

#include "platform/volumes.h"

#include <functional>

namespace vb::platform::win32 {

class Win32Volumes : public IVolumes
{
public:
    // One pair per drive that names a device, in drive order, e.g.
    // ("\Device\HarddiskVolume1", "C:").
    std::vector<std::pair<std::string, std::string>> driveMap() override;

    // The map from the drive roots as GetLogicalDriveStringsW lists them ("C:\", "D:\", ...
    // each ending in a zero, the list in a second) and a lookup of a drive's ("C:") first
    // device name, empty when it has none. A device that several drives name keeps the first.
    static std::vector<std::pair<std::string, std::string>>
    driveMapOf(const std::wstring& driveStrings,
               const std::function<std::wstring(const std::wstring&)>& deviceOf);
};

} // namespace vb::platform::win32

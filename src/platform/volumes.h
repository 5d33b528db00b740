// SPDX-License-Identifier: GPL-3.0-or-later
// Mapping between device paths (as the kernel names images) and the user's drive paths.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vb::platform {

class IVolumes
{
public:
    virtual ~IVolumes() = default;
    // Pairs of (device prefix, drive prefix), e.g. ("\\Device\\HarddiskVolume2", "C:").
    // Where image paths are already final the map is one pair ("", ""): every absolute path
    // maps to itself.
    virtual std::vector<std::pair<std::string, std::string>> driveMap() = 0;
};

} // namespace vb::platform

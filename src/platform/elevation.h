// SPDX-License-Identifier: GPL-3.0-or-later
// Whether this process runs with administrator rights.
#pragma once

namespace vb::platform {

class IElevation
{
public:
    virtual ~IElevation() = default;
    virtual bool isElevated() = 0;
    // A 32-bit process on a 64-bit system.
    virtual bool isWow64() = 0;
};

} // namespace vb::platform

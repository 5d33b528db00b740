// SPDX-License-Identifier: GPL-3.0-or-later
// Plain value types shared by the platform interfaces (no Qt, so a Windows backend builds alone).
#pragma once

#include "filterwire/filterwire.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vb::platform {

// Windows error numbers cross the seam unchanged, so the algorithms above it are written once.
// Those the filter protocol carries are its own.
enum ErrorCode : uint32_t {
    ErrSuccess = vb::filterwire::ErrSuccess,
    ErrFileNotFound = vb::filterwire::ErrFileNotFound,
    ErrAccessDenied = vb::filterwire::ErrAccessDenied,
    ErrInvalidHandle = vb::filterwire::ErrInvalidHandle,
    ErrNotEnoughMemory = vb::filterwire::ErrNotEnoughMemory,
    ErrInvalidData = 13,
    ErrNotSupported = vb::filterwire::ErrNotSupported,
    ErrInvalidParameter = vb::filterwire::ErrInvalidParameter,
    ErrInsufficientBuffer = vb::filterwire::ErrInsufficientBuffer,
    ErrMoreData = vb::filterwire::ErrMoreData,
    ErrServiceRequestTimeout = 1053,
    ErrServiceAlreadyRunning = 1056,
    ErrServiceDoesNotExist = 1060,
    ErrServiceCannotAcceptCtrl = 1061,
    ErrServiceNotActive = 1062,
    ErrServiceExists = 1073,
};

struct Rect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int right() const { return x + width - 1; }
    int bottom() const { return y + height - 1; }
    bool contains(int px, int py) const
    {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
    bool operator==(const Rect& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

using ProcessId = uint32_t;

} // namespace vb::platform

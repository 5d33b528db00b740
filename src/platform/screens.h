// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's screens and their work areas (without task bars or panels).
#pragma once

#include "platform/types.h"

namespace vb::platform {

class IScreens
{
public:
    virtual ~IScreens() = default;
    // Work area of the primary screen.
    virtual Rect primaryAvailableGeometry() const = 0;
    // Work areas of all screens, the primary first.
    virtual std::vector<Rect> availableGeometries() const = 0;
    // Whether a compositing manager draws the desktop. Without one, the transparent parts of
    // a translucent window show black, so round windows cut their shape out instead.
    virtual bool desktopComposited() const { return true; }
};

} // namespace vb::platform

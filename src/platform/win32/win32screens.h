// SPDX-License-Identifier: GPL-3.0-or-later
// The monitors of the desktop and their work areas (without the task bar and docked bars).
#pragma once

#include "platform/screens.h"

namespace vb::platform::win32 {

class Win32Screens : public IScreens
{
public:
    Rect primaryAvailableGeometry() const override;
    std::vector<Rect> availableGeometries() const override;
};

} // namespace vb::platform::win32

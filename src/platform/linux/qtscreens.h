// SPDX-License-Identifier: GPL-3.0-or-later
// Screens as Qt sees them (X11 work areas come from the window manager through Qt).
#pragma once

#include "platform/screens.h"

namespace vb::platform::linux_ {

class QtScreens : public IScreens
{
public:
    Rect primaryAvailableGeometry() const override;
    std::vector<Rect> availableGeometries() const override;
    // X11: the selection _NET_WM_CM_S<screen> has an owner. Other platforms compose always.
    bool desktopComposited() const override;
};

} // namespace vb::platform::linux_

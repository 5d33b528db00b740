// SPDX-License-Identifier: GPL-3.0-or-later
// Where the ball goes when it is shown: its saved place, kept inside a screen's work area.
#pragma once

#include "platform/types.h"

#include <QPoint>
#include <QSize>
#include <QVariant>

#include <vector>

namespace vb::ball {

struct Placement
{
    QPoint pos;
    bool usedDefaultX = false;
    bool usedDefaultY = false;
};

// areas are the screens' work areas with the primary first. A coordinate that is missing or
// not an integer takes the default corner of the primary area (10 px from the right edge,
// 30 px from the bottom); the ball is then clamped into the area under its centre, or into the
// primary area when it lies off every screen.
Placement placeBall(const QVariant& savedX, const QVariant& savedY, const QSize& ball,
                    const std::vector<platform::Rect>& areas);

} // namespace vb::ball

// SPDX-License-Identifier: GPL-3.0-or-later
// Where the ball was left: its saved place and hidden state in the user's settings, and the
// screens' work areas it is placed into.
#pragma once

#include "platform/screens.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>
#include <vector>

namespace vb::ball {

class BallPosition
{
public:
    // Without screens every area is empty and the ball goes to the origin.
    explicit BallPosition(std::shared_ptr<const platform::IScreens> screens);

    // The place for a ball of size at start: the saved one kept on a screen, else the default
    // corner of the primary work area.
    QPoint placeAtStart(const QSize& size) const;
    void record(const QPoint& pos) const;
    void recordHidden() const;

    std::vector<platform::Rect> workAreas() const;
    QRect primaryArea() const;
    // The work area under the centre of rect, else the primary one.
    QRect areaUnder(const QRect& rect) const;

private:
    std::shared_ptr<const platform::IScreens> m_screens;
};

} // namespace vb::ball

// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a window to what it draws, for desktops without a compositing manager: on the frames
// of the moments after a change of skin or size, and on every frame while an animation runs.
#pragma once

#include <QDeadlineTimer>
#include <QImage>

#include <functional>

class QQuickWindow;

namespace vb::ball {

class ShapeMask
{
public:
    using FrameGrabber = std::function<QImage()>;
    // How long a change takes to settle: a new skin and its size arrive over a few frames, and
    // the skin fades in 120 ms.
    static constexpr int kSettleMs = 400;

    // grab returns the window's last frame (the window's own grab when empty).
    explicit ShapeMask(QQuickWindow* window, FrameGrabber grab = {});

    // Something changed the drawing: follow it on the frames of the next moments.
    void settleSoon();
    // Whether every frame is followed regardless of settling (an animation runs).
    void setAnimating(bool animating);
    // To be called after each frame the window shows.
    void onFrameSwapped();

private:
    QQuickWindow* m_window;
    FrameGrabber m_grab;
    QDeadlineTimer m_settleUntil;
    bool m_animating = false;
    bool m_grabbing = false;
};

} // namespace vb::ball

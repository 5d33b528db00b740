// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/shapemask.h"

#include "ball/ballshape.h"

#include <QQuickWindow>

namespace vb::ball {

ShapeMask::ShapeMask(QQuickWindow* window, FrameGrabber grab)
    : m_window(window), m_grab(std::move(grab))
{
    if (!m_grab)
        m_grab = [window] { return window->grabWindow(); };
}

void ShapeMask::settleSoon()
{
    m_settleUntil.setRemainingTime(kSettleMs);
    m_window->update();
}

void ShapeMask::setAnimating(bool animating)
{
    m_animating = animating;
    settleSoon();
}

void ShapeMask::onFrameSwapped()
{
    const bool settling = !m_settleUntil.hasExpired();
    // Grabbing renders a frame of its own, which must not start another grab.
    if (m_grabbing || (!settling && !m_animating))
        return;
    m_grabbing = true;
    QImage frame = m_grab();
    m_grabbing = false;
    if (frame.isNull())
        return;
    const QSize size = m_window->size();
    if (frame.size() != size)
        frame = frame.scaled(size);
    QRegion shape = shapeOf(frame);
    // An empty shape would hide the window for good; keep it whole until there is a face.
    if (shape.isEmpty())
        shape = QRegion(QRect(QPoint(), size));
    if (shape != m_window->mask())
        m_window->setMask(shape);
    if (settling || m_animating)
        m_window->update();
}

} // namespace vb::ball

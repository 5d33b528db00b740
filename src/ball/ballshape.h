// SPDX-License-Identifier: GPL-3.0-or-later
// The outline of what a window draws, for desktops without compositing, where a window can
// only be round by cutting its shape out.
#pragma once

#include <QImage>
#include <QRegion>

namespace vb::ball {

// The pixels of image whose alpha is at least minAlpha, as a region in image coordinates.
QRegion shapeOf(const QImage& image, int minAlpha = 96);

} // namespace vb::ball

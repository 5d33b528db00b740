// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballplacement.h"

#include <algorithm>
#include <climits>

namespace vb::ball {

namespace {
bool toInt(const QVariant& v, int& out)
{
    if (!v.isValid() || v.isNull())
        return false;
    // Through 64 bits: QVariant's own int conversion silently truncates what does not fit.
    bool ok = false;
    const qlonglong i = v.toLongLong(&ok);
    if (!ok || i < INT_MIN || i > INT_MAX)
        return false;
    out = static_cast<int>(i);
    return true;
}

int clampAxis(int v, int lo, int len, int size)
{
    const int hi = lo + len - size;
    // The top-left corner wins when the area is smaller than the ball.
    return std::max(std::min(v, hi), lo);
}
} // namespace

Placement placeBall(const QVariant& savedX, const QVariant& savedY, const QSize& ball,
                    const std::vector<platform::Rect>& areas)
{
    const platform::Rect primary = areas.empty() ? platform::Rect{} : areas.front();
    const int w = ball.width();
    const int h = ball.height();
    Placement p;
    int x = primary.x + primary.width - w - 10;
    int y = primary.y + primary.height - h - 30;
    p.usedDefaultX = !toInt(savedX, x);
    p.usedDefaultY = !toInt(savedY, y);
    if (p.usedDefaultX)
        x = primary.x + primary.width - w - 10;
    if (p.usedDefaultY)
        y = primary.y + primary.height - h - 30;

    // The screen under the ball's centre keeps it, so a ball left on a second screen stays there.
    platform::Rect area = primary;
    const long long cx = static_cast<long long>(x) + w / 2;
    const long long cy = static_cast<long long>(y) + h / 2;
    for (const platform::Rect& a : areas) {
        if (cx >= a.x && cy >= a.y && cx < static_cast<long long>(a.x) + a.width &&
            cy < static_cast<long long>(a.y) + a.height) {
            area = a;
            break;
        }
    }
    p.pos = QPoint(clampAxis(x, area.x, area.width, w), clampAxis(y, area.y, area.height, h));
    return p;
}

} // namespace vb::ball

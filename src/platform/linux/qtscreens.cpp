// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/qtscreens.h"

#include <QGuiApplication>
#include <QScreen>

namespace vb::platform::linux_ {

namespace {
Rect toRect(const QRect& r)
{
    return Rect{r.x(), r.y(), r.width(), r.height()};
}
} // namespace

Rect QtScreens::primaryAvailableGeometry() const
{
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? toRect(s->availableGeometry()) : Rect{};
}

std::vector<Rect> QtScreens::availableGeometries() const
{
    std::vector<Rect> out;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        out.push_back(toRect(primary->availableGeometry()));
    const auto screens = QGuiApplication::screens();
    for (const QScreen* s : screens)
        if (s != primary)
            out.push_back(toRect(s->availableGeometry()));
    return out;
}

} // namespace vb::platform::linux_

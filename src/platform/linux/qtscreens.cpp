// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/qtscreens.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdlib>

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

bool QtScreens::desktopComposited() const
{
    // qGuiApp is a plain cast: in a program with only a QCoreApplication it names no GUI object.
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = gui ? gui->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return true;
    // The screen number is the part of DISPLAY after the dot (":1.0"), 0 when absent.
    int screen = 0;
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    if (dot > display.lastIndexOf(':'))
        screen = std::atoi(display.constData() + dot + 1);
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return true;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    const bool composited = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    std::free(atom);
    return composited;
}

} // namespace vb::platform::linux_

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballmenu.h"

#include "helper/menuviewex.h"

#include <QCoreApplication>

namespace vb::ball {

namespace {
// The items keep the host's translation context; the literals are marked for lupdate.
QString text(const char* source)
{
    return QCoreApplication::translate("QObject", source);
}
} // namespace

BallMenuItems makeBallMenuItems(QObject* parent, bool hotKeyRegistered)
{
    BallMenuItems m;
    m.openPanel =
        new MenuActions(text(QT_TRANSLATE_NOOP("QObject", "Open Boost Panel")), parent, true, true,
                        QStringLiteral(":/Ball/Skins/images/icon_boost_12.png"));
    m.screenCapture = new MenuActions(
        hotKeyRegistered ? text(QT_TRANSLATE_NOOP("QObject", "Screen Capture (Ctrl+Alt+C)"))
                         : text(QT_TRANSLATE_NOOP("QObject", "Screen Capture")),
        parent, true, true, QStringLiteral(":/Ball/Skins/images/icon_Screenshots_18.png"));
    m.changeSkin = new MenuActions(text(QT_TRANSLATE_NOOP("QObject", "Change Skin")), parent, false,
                                   true, QStringLiteral(":/Ball/Skins/images/icon_skin_18.png"));
    m.hide = new MenuActions(text(QT_TRANSLATE_NOOP("QObject", "Hide")), parent, true, true,
                             QStringLiteral(":/Ball/Skins/images/icon_hide_12.png"));
    m.openSuite = new MenuActions(text(QT_TRANSLATE_NOOP("QObject", "Open Verdant Suite")), parent,
                                  true, true, QStringLiteral(":/Skin/images/icon_trayshowvds.png"));
    return m;
}

} // namespace vb::ball

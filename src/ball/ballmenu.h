// SPDX-License-Identifier: GPL-3.0-or-later
// The items of the ball's context menu, in their order, with their texts and icons.
#pragma once

#include <QList>

class MenuActions;
class QObject;

namespace vb::ball {

struct BallMenuItems
{
    MenuActions* openPanel = nullptr;
    MenuActions* screenCapture = nullptr;
    MenuActions* changeSkin = nullptr;
    MenuActions* hide = nullptr;
    MenuActions* openSuite = nullptr;

    QList<MenuActions*> inOrder() const
    {
        return {openPanel, screenCapture, changeSkin, hide, openSuite};
    }
};

// Creates the items as children of parent. The capture item names its hot key only while the
// key is registered.
BallMenuItems makeBallMenuItems(QObject* parent, bool hotKeyRegistered);

} // namespace vb::ball

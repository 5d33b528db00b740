// SPDX-License-Identifier: GPL-3.0-or-later
// The screen capture view: the host's desktop picture element fills the view that shows it;
// the view closes when the element is done and lets the windows it names take the focus.
import QtQuick
import KestUIExtension 1.0 as KEST

Item {
    width: 1
    height: 1

    KEST.ImageDesktop {
        id: img_desk
        objectName: "img_desk"
        anchors.fill: parent
        focus: true
        thisWndId: Bv.winId
        parentView: Bv
        onNeedCloseChanged: Bv.qmlClose()
        onFocusWndIdChanged: Bv.addAllowFocusId(focusWndId)
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import KestUIExtension 1.0 as KEST

Item {
    KEST.ImageDesktop {
        id: desk
        objectName: "desktop"
        anchors.fill: parent
        focus: true
        thisWndId: Bv.winId
        parentView: Bv
        onCaptured: (image) => Host.saveCapture(image)
        onNeedCloseChanged: Bv.qmlClose()
        onFocusWndIdChanged: Bv.addAllowFocusId(focusWndId)
    }
    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: 24
        text: "Drag to choose an area · Enter or double-click keeps it · Esc cancels"
        color: "white"; style: Text.Outline; styleColor: "black"; font.pixelSize: 15
    }
}

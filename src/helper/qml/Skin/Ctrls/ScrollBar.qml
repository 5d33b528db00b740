// SPDX-License-Identifier: GPL-3.0-or-later
// A slim vertical scroll bar for a Flickable (scrollArea); the handle can be dragged.
import QtQuick

Item {
    id: root
    property Flickable scrollArea
    width: 6
    visible: scrollArea && scrollArea.visibleArea.heightRatio < 1.0

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "#14000000"
    }
    Rectangle {
        id: handle
        x: 0
        width: parent.width
        radius: width / 2
        color: drag.containsMouse || drag.pressed ? "#8a959e" : "#b4bcc3"
        height: root.scrollArea ? Math.max(16, root.scrollArea.visibleArea.heightRatio * root.height) : 0
        y: root.scrollArea ? root.scrollArea.visibleArea.yPosition * root.height : 0
        MouseArea {
            id: drag
            anchors.fill: parent
            hoverEnabled: true
            property real startY
            property real startContent
            onPressed: (mouse) => { startY = mapToItem(root, 0, mouse.y).y; startContent = root.scrollArea.contentY }
            onPositionChanged: (mouse) => {
                if (!pressed) return
                var dy = mapToItem(root, 0, mouse.y).y - startY
                var range = root.scrollArea.contentHeight - root.scrollArea.height
                var c = startContent + dy * root.scrollArea.contentHeight / root.height
                root.scrollArea.contentY = Math.max(0, Math.min(range, c))
            }
        }
    }
}

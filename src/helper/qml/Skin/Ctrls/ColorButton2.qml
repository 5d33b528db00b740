// SPDX-License-Identifier: GPL-3.0-or-later
// A flat button that only changes its colour with its state.
import QtQuick

Rectangle {
    id: root
    property color normal_color: "transparent"
    property color hot_color: "#20000000"
    property color pushed_color: "#40000000"
    property color disable_color: "#10000000"
    property bool enabled_btn: true
    signal clicked()

    color: !enabled_btn ? disable_color
         : (area.pressed ? pushed_color : (area.containsMouse ? hot_color : normal_color))
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        enabled: root.enabled_btn
        onClicked: root.clicked()
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A button drawn from pictures for its normal, hovered and pushed states.
import QtQuick

Item {
    id: root
    property url normal_image
    property url hot_image
    property url pushed_image
    property bool enabled_btn: true
    signal clicked()
    signal doubleClicked()

    Image {
        anchors.centerIn: parent
        source: area.pressed && root.pushed_image != "" ? root.pushed_image
              : (area.containsMouse && root.hot_image != "" ? root.hot_image : root.normal_image)
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        enabled: root.enabled_btn
        onClicked: root.clicked()
        onDoubleClicked: root.doubleClicked()
    }
}

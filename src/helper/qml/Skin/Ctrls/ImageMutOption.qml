// SPDX-License-Identifier: GPL-3.0-or-later
// A switch of three pictures: state 0 normal, 1 hovered, 2 chosen.
import QtQuick

Item {
    id: root
    property url state_image_0
    property url state_image_1
    property url state_image_2
    property int opt_state: 0
    signal clicked()

    Image {
        anchors.centerIn: parent
        source: root.opt_state === 2 ? root.state_image_2
              : (area.containsMouse || root.opt_state === 1 ? root.state_image_1 : root.state_image_0)
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: root.clicked()
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick

Rectangle {
    width: 420
    height: 240
    color: "#f4f7f5"

    component HostButton: Rectangle {
        id: btn
        property string label
        signal clicked()
        width: 150; height: 34; radius: 4
        color: area.pressed ? "#17603c" : (area.containsMouse ? "#23895a" : "#1d7a4c")
        Text { anchors.centerIn: parent; text: btn.label; color: "white"; font.pixelSize: 13; font.family: SetsIndividual.font }
        MouseArea { id: area; anchors.fill: parent; hoverEnabled: true; onClicked: btn.clicked() }
    }

    Rectangle {
        width: parent.width; height: 64
        color: "#1d7a4c"
        Text {
            x: 20; anchors.verticalCenter: parent.verticalCenter
            text: "Verdant Suite"
            color: "white"; font.pixelSize: 22; font.bold: true; font.family: SetsIndividual.font
        }
    }
    Text {
        x: 20; y: 84; width: parent.width - 40
        wrapMode: Text.WordWrap
        text: "The boost ball floats on your desktop. Drag it anywhere, click it for the Boost Panel, double-click it to release memory."
        color: "#151b1f"; font.pixelSize: 13; font.family: SetsIndividual.font
    }
    Row {
        x: 20; y: 170; spacing: 16
        HostButton { objectName: "showBall"; label: "Show the ball"; onClicked: Host.showBall() }
        HostButton { objectName: "quit"; label: "Quit"; onClicked: Host.quit() }
    }
}

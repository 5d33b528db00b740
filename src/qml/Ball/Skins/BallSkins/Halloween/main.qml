// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Halloween": a pumpkin beside a haunted sign.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "bg_200x110.png"
    }

    Column {
        x: 112
        y: 52
        width: parent.width
        spacing: 0
        Text {
            objectName: "ramText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#f5faff"
            text: figures.ram
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#f5faff"
            text: figures.cpu
        }
    }

    Component.onCompleted: {
        ball_main.width = 200
        ball_main.height = 110
        EP.qmlWindowResize(200, 110)
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "tennis": a tennis ball on a scoreboard.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "bg_160x75.png"
    }

    Column {
        x: 74
        y: 20
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
        ball_main.width = 160
        ball_main.height = 75
        EP.qmlWindowResize(160, 75)
    }
}

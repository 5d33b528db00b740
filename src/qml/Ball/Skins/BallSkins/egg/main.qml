// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "egg": a painted egg.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "eggs_120x115.png"
    }

    Column {
        x: 36
        y: 33
        width: parent.width
        spacing: 0
        Text {
            objectName: "ramText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            text: figures.ram
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            text: figures.cpu
        }
    }

    Component.onCompleted: {
        ball_main.width = 120
        ball_main.height = 115
        EP.qmlWindowResize(120, 115)
    }
}

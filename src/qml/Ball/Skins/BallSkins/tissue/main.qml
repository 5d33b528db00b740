// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "tissue": a box of tissues.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "bg_130.png"
    }

    Column {
        x: 40
        y: 84
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
        ball_main.width = 130
        ball_main.height = 130
        EP.qmlWindowResize(130, 130)
    }
}

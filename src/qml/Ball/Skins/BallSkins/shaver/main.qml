// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "shaver": an electric shaver.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "Shaver_140x80.png"
    }

    Column {
        x: 60
        y: 24
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
        ball_main.width = 140
        ball_main.height = 80
        EP.qmlWindowResize(140, 80)
    }
}

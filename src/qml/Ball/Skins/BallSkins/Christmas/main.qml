// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Christmas": a snowman under a fir twig.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "Christmas_170x180.png"
    }

    Column {
        x: 60
        y: 87
        width: parent.width
        spacing: 0
        Text {
            objectName: "ramText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#050a0f"
            text: figures.ram
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#050a0f"
            text: figures.cpu
        }
    }

    Component.onCompleted: {
        ball_main.width = 170
        ball_main.height = 180
        EP.qmlWindowResize(170, 180)
    }
}

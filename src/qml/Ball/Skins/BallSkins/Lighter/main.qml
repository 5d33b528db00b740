// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Lighter": a pocket lighter.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "Lighter_95x115.png"
    }

    Column {
        x: 23
        y: 50
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
        ball_main.width = 95
        ball_main.height = 115
        EP.qmlWindowResize(95, 115)
    }
}

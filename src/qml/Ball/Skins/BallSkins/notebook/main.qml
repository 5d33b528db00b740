// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "notebook": a spiral notebook page.
import QtQuick
import "../.."

Item {
    id: skin

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "bg_150x100.png"
    }

    Column {
        x: 45
        y: 30
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
        ball_main.width = 150
        ball_main.height = 100
        EP.qmlWindowResize(150, 100)
    }
}

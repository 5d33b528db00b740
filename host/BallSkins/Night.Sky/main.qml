// SPDX-License-Identifier: GPL-3.0-or-later
// A user skin shipped with the demo host: a night sky. It lives on disk beside the host, in
// its "BallSkins" folder, so the skin chooser lists it as "Night".
import QtQuick
// The ball's own piece for the two load lines (below: figures.ram, figures.cpu).
import "qrc:/Ball/Skins"

Item {
    id: night

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "night_110.png"
    }

    Column {
        x: 28
        y: 42
        width: parent.width
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
        ball_main.width = 110
        ball_main.height = 110
        EP.qmlWindowResize(110, 110)
    }
}

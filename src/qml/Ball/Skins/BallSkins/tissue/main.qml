// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "tissue": a box of tissues.
import QtQuick

Item {
    id: skin

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
            text: qsTranslate("BallViewer", "RAM: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.memoryUsage : 0) + Translator.nulstr
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            text: qsTranslate("BallViewer", "CPU: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.cpuUsage : 0) + Translator.nulstr
        }
    }

    Component.onCompleted: {
        ball_main.width = 130
        ball_main.height = 130
        EP.qmlWindowResize(130, 130)
    }
}

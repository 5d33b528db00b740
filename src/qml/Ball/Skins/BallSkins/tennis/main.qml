// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "tennis": a tennis ball on a scoreboard.
import QtQuick

Item {
    id: skin

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
            text: qsTranslate("BallViewer", "RAM: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.memoryUsage : 0) + Translator.nulstr
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#f5faff"
            text: qsTranslate("BallViewer", "CPU: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.cpuUsage : 0) + Translator.nulstr
        }
    }

    Component.onCompleted: {
        ball_main.width = 160
        ball_main.height = 75
        EP.qmlWindowResize(160, 75)
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Lighter": a pocket lighter.
import QtQuick

Item {
    id: skin

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
        ball_main.width = 95
        ball_main.height = 115
        EP.qmlWindowResize(95, 115)
    }
}

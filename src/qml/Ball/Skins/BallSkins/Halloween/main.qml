// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Halloween": a pumpkin beside a haunted sign.
import QtQuick

Item {
    id: skin

    Image {
        anchors.centerIn: parent
        source: "bg_200x110.png"
    }

    Column {
        x: 112
        y: 52
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
        ball_main.width = 200
        ball_main.height = 110
        EP.qmlWindowResize(200, 110)
    }
}

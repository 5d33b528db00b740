// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "Christmas": a snowman under a fir twig.
import QtQuick

Item {
    id: skin

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
            text: qsTranslate("BallViewer", "RAM: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.memoryUsage : 0) + Translator.nulstr
        }
        Text {
            objectName: "cpuText"
            font.family: SetsIndividual.font
            font.pixelSize: 11
            color: "#050a0f"
            text: qsTranslate("BallViewer", "CPU: %1%").arg(
                      typeof FlowDataList !== "undefined" && FlowDataList
                      ? FlowDataList.cpuUsage : 0) + Translator.nulstr
        }
    }

    Component.onCompleted: {
        ball_main.width = 170
        ball_main.height = 180
        EP.qmlWindowResize(170, 180)
    }
}

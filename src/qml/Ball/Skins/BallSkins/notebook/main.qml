// SPDX-License-Identifier: GPL-3.0-or-later
// Ball skin "notebook": a spiral notebook page.
import QtQuick

Item {
    id: skin

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
        ball_main.width = 150
        ball_main.height = 100
        EP.qmlWindowResize(150, 100)
    }
}

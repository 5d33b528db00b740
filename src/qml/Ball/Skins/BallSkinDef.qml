// SPDX-License-Identifier: GPL-3.0-or-later
// The default face: a capsule with the boost button on its left and the two load lines.
import QtQuick
import "qrc:/Skin/Ctrls" as CTRLS

Item {
    id: skin_def

    LoadFigures {
        id: figures
    }

    Image {
        anchors.centerIn: parent
        source: "images/bg_120x48.png"
    }

    Loader {
        width: 48
        height: 48
        sourceComponent: ok_btn
    }

    Component {
        id: ok_btn
        Item {
            CTRLS.ImageButton {
                objectName: "boostButton"
                width: 48
                height: 48
                // Qt 6 resolves a url where it is used: name the pictures from here.
                hot_image: Qt.resolvedUrl("images/btn_small boost_1_h_48.png")
                normal_image: Qt.resolvedUrl("images/btn_small boost_1_n_48.png")
                onClicked: EP.qmlDelayShowPopup()
                onDoubleClicked: {
                    EP.qmlCancelDelayShowPopup()
                    EP.qmlReleaseMemory()
                }
            }
        }
    }

    Item {
        anchors.fill: parent
        Column {
            width: parent.width
            x: 51
            y: 11
            spacing: 3
            TextBlack {
                objectName: "ramText"
                color: "#f5faff"
                font.pixelSize: 10
                text: figures.ram
            }
            TextBlack {
                objectName: "cpuText"
                color: "#f5faff"
                font.pixelSize: 10
                text: figures.cpu
            }
        }
    }

    Component.onCompleted: {
        ball_main.width = 120
        ball_main.height = 48
        EP.qmlWindowResize(120, 48)
    }
}

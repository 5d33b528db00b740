// SPDX-License-Identifier: GPL-3.0-or-later
// The Network page: the connection state, the download and upload totals, and one row per
// process with its speeds and a button that blocks or unblocks its traffic. Rows of ended
// processes are dimmed and show no speed; a blocked process keeps its play button and mark.
import QtQuick
import "qrc:/Skin/Ctrls" as CTRLS

Item {
    id: root

    Column {
        anchors.fill: parent

        Item {
            id: top
            width: parent.width
            height: 160

            TextBlack {
                objectName: "networkState"
                x: 10
                y: 50
                font.pixelSize: 14
                font.bold: true
                color: "#b3bcc0"
                text: (FlowDataList.networkConnected ? qsTr("Network is OK")
                                                     : qsTr("Network is disconnected"))
                      + Translator.nulstr
            }
            Image {
                objectName: "networkImage"
                x: 10
                y: 75
                source: FlowDataList.networkConnected ? "images/net0_130x60.png"
                                                      : "images/net1_130x60.png"
            }
            Column {
                x: 200
                anchors.top: parent.top
                anchors.topMargin: 50
                spacing: 4
                Column {
                    TextBlack {
                        color: "#848b8f"
                        font.pixelSize: 12
                        text: qsTr("Download") + Translator.nulstr
                    }
                    TextBlack {
                        objectName: "totalIn"
                        color: "#b3bcc0"
                        font.pixelSize: 18
                        font.bold: true
                        text: FlowDataList.totalIn
                    }
                }
                Column {
                    TextBlack {
                        color: "#848b8f"
                        font.pixelSize: 12
                        text: qsTr("Upload") + Translator.nulstr
                    }
                    TextBlack {
                        objectName: "totalOut"
                        color: "#b3bcc0"
                        font.pixelSize: 18
                        font.bold: true
                        text: FlowDataList.totalOut
                    }
                }
            }
        }

        Rectangle {
            width: parent.width
            height: root.height - 160
            color: "#f5f6f8"

            Loader {
                anchors.fill: parent
                sourceComponent: flow_list
            }
        }
    }

    Component {
        id: flow_list

        ListView {
            id: statics_list
            objectName: "statics_list"
            model: FlowDataList
            spacing: 1
            clip: true
            boundsBehavior: Flickable.StopAtBounds

            delegate: Item {
                id: row
                width: statics_list.width
                height: 30

                // The row's content lies inside its mouse area, so the row stays hovered
                // while the mouse is over one of its buttons.
                MouseArea {
                    id: content_area
                    objectName: "flowRow"
                    anchors.fill: parent
                    hoverEnabled: true

                    Rectangle {
                        objectName: "rowHover"
                        anchors.fill: parent
                        color: "#e6e7e9"
                        opacity: content_area.containsMouse ? 1 : 0
                    }

                    Row {
                        x: 12
                        height: parent.height
                        spacing: 5

                        Row {
                            objectName: "rowFigures"
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 5
                            opacity: role_dead ? 0.6 : 1

                            Image {
                                objectName: "icon"
                                width: 16
                                height: 16
                                anchors.verticalCenter: parent.verticalCenter
                                smooth: true
                                source: role_icon
                                Image {
                                    objectName: "blockedMark"
                                    anchors.right: parent.right
                                    anchors.bottom: parent.bottom
                                    source: "images/icon_-_9.png"
                                    visible: role_is_blocked
                                }
                            }
                            TextBlack {
                                objectName: "name"
                                width: 120
                                anchors.verticalCenter: parent.verticalCenter
                                // A long name would run over the speeds.
                                elide: Text.ElideRight
                                text: role_proc_name
                            }
                            // The widest speeds ("1023.99 KB/s") are drawn a little smaller
                            // rather than cut.
                            TextBlack {
                                objectName: "inSpeed"
                                width: 64
                                anchors.verticalCenter: parent.verticalCenter
                                clip: true
                                horizontalAlignment: Text.AlignRight
                                fontSizeMode: Text.HorizontalFit
                                minimumPixelSize: 8
                                text: role_dead ? "-" : role_flow_in_speed
                            }
                            TextBlack {
                                objectName: "outSpeed"
                                width: 64
                                anchors.verticalCenter: parent.verticalCenter
                                clip: true
                                horizontalAlignment: Text.AlignRight
                                fontSizeMode: Text.HorizontalFit
                                minimumPixelSize: 8
                                text: role_dead ? "-" : role_flow_out_speed
                            }
                        }

                        Item {
                            objectName: "blockButtons"
                            width: 32
                            height: row.height
                            opacity: role_is_blocked || content_area.containsMouse ? 1 : 0

                            // Pictures made absolute: the host's button would look for
                            // relative ones in its own folder.
                            CTRLS.ImageButton {
                                id: btn_diable
                                objectName: "btn_diable"
                                width: 16
                                height: 16
                                anchors.centerIn: parent
                                hot_image: Qt.resolvedUrl("images/btn_play_h_16.png")
                                normal_image: Qt.resolvedUrl("images/btn_play_n_16.png")
                                pushed_image: Qt.resolvedUrl("images/btn_play_n_16.png")
                                visible: role_is_blocked
                                onClicked: FlowDataList.qmlBlock(index, false)
                            }
                            CTRLS.ImageButton {
                                id: btn_enable
                                objectName: "btn_enable"
                                width: 16
                                height: 16
                                anchors.centerIn: parent
                                hot_image: Qt.resolvedUrl("images/btn_pause_h_16.png")
                                normal_image: Qt.resolvedUrl("images/btn_pause_n_16.png")
                                pushed_image: Qt.resolvedUrl("images/btn_pause_n_16.png")
                                visible: !role_is_blocked
                                onClicked: FlowDataList.qmlBlock(index, true)
                            }
                        }
                    }
                }
            }
        }
    }
}

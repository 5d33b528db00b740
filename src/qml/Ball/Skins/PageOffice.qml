// SPDX-License-Identifier: GPL-3.0-or-later
// The Office view of the Boost page: the memory load and what it means, the boost button, the
// switch to the Game view, and the Office list of processes and services to tick for closing.
// While the list is being fixed a dark overlay covers the view and takes every click and hover.
// The Game view is this page with the properties below set otherwise.
import QtQuick
import "qrc:/Skin/Ctrls" as CTRLS
import "qrc:/Skin/Global" as Global
import KestUIExtension 1.0 as KEST

Item {
    id: root

    // The list shown, ticked and fixed here.
    property QtObject procList: ProcDataListOffice
    // The figure in large digits, and the line under it.
    property int shownValue: FlowDataList.memoryUsage
    property string statusText: (shownValue < 55 ? qsTr("Your PC performance is pretty good")
                                 : shownValue < 80 ? qsTr("Your PC is overburden")
                                 : qsTr("Your PC is out of memory")) + Translator.nulstr
    property Component numberDisplay: percent_number
    // Absolute: the host's controls would resolve a relative picture against their folder.
    property url boostHotImage: Qt.resolvedUrl("images/btn_boost_1_h_120x35.png")
    property url boostNormalImage: Qt.resolvedUrl("images/btn_boost_1_n_120x35.png")
    property string boostText: qsTr("PC BOOST") + Translator.nulstr
    property url switchHotImage: Qt.resolvedUrl("images/btn_Switch_pc_h_70x20.png")
    property url switchNormalImage: Qt.resolvedUrl("images/btn_Switch_pc_n_70x20.png")
    // The view the switch leads to (BallViewer's ProcsPages: 0 Office, 1 Game).
    property int switchTarget: 1
    // Only one half of the switch switches; the other half takes its clicks and does nothing.
    property bool inertHalfOnRight: false

    Component {
        id: percent_number
        PercentNumber {
            objectName: "numberDisplay"
            value: root.shownValue
        }
    }

    Column {
        anchors.fill: parent

        Item {
            id: top
            width: parent.width
            height: 160

            Loader {
                id: number
                x: 25
                y: 50
                sourceComponent: root.numberDisplay
            }
            TextBlack {
                id: status_text
                objectName: "statusText"
                anchors.top: number.bottom
                anchors.left: number.left
                // Wrapped short of the switch: a long line would run under it.
                width: switch_item.x - number.x - 10
                wrapMode: Text.WordWrap
                font.pixelSize: 12
                color: "#62696e"
                text: root.statusText
            }

            CTRLS.ImageButton {
                id: btnboost
                objectName: "btnboost"
                width: 120
                height: 35
                anchors.right: parent.right
                anchors.rightMargin: 20
                anchors.top: parent.top
                anchors.topMargin: 50
                hot_image: root.boostHotImage
                normal_image: root.boostNormalImage
                onClicked: root.procList.qmlStartFix()

                TextBlack {
                    objectName: "boostText"
                    anchors.centerIn: parent
                    text: root.boostText
                    color: "#f5fbff"
                    font.bold: true
                    font.italic: true
                    font.pixelSize: 14
                }
            }

            Item {
                id: switch_item
                objectName: "switch"
                width: 70
                height: 20
                anchors.horizontalCenter: btnboost.horizontalCenter
                anchors.top: btnboost.bottom
                anchors.topMargin: 10

                CTRLS.ImageButton {
                    objectName: "switchButton"
                    anchors.fill: parent
                    hot_image: root.switchHotImage
                    normal_image: root.switchNormalImage
                    onClicked: MainView.currentProcPage = root.switchTarget
                }
                MouseArea {
                    objectName: "switchInertHalf"
                    x: root.inertHalfOnRight ? parent.width - width : 0
                    width: 35
                    height: 20
                    hoverEnabled: true
                    KEST.CursorShapeArea {
                        anchors.fill: parent
                        cursorShape: Qt.ArrowCursor
                    }
                }
            }
        }

        Rectangle {
            width: parent.width
            height: root.height - 160
            color: "#f5f6f8"

            ListView {
                id: statics_list
                objectName: "statics_list"
                anchors.fill: parent
                model: root.procList
                spacing: 1
                clip: true
                boundsBehavior: Flickable.StopAtBounds

                delegate: Item {
                    id: row
                    width: statics_list.width
                    height: 30

                    Component {
                        id: header_row
                        Rectangle {
                            objectName: "headerRow"
                            color: "#ffffff"
                            TextBlack {
                                x: 12
                                width: 100
                                anchors.verticalCenter: parent.verticalCenter
                                clip: true
                                font.pixelSize: 14
                                font.bold: true
                                text: role_name
                            }
                            TextBlack {
                                anchors.right: parent.right
                                anchors.rightMargin: 10
                                anchors.verticalCenter: parent.verticalCenter
                                width: 80
                                font.pixelSize: 14
                                font.bold: true
                                horizontalAlignment: Text.AlignRight
                                color: "#e56c19"
                                text: role_memory
                            }
                        }
                    }

                    Component {
                        id: item_row
                        // The row's content lies inside its mouse area, so the row stays
                        // hovered while the mouse is over the tick box.
                        MouseArea {
                            id: row_area
                            objectName: "itemRow"
                            hoverEnabled: true
                            onClicked: root.procList.qmlSelect(index)

                            Rectangle {
                                objectName: "rowHover"
                                anchors.fill: parent
                                color: "#e6e7e9"
                                opacity: row_area.containsMouse ? 1 : 0
                            }
                            Row {
                                x: 12
                                anchors.verticalCenter: parent.verticalCenter
                                spacing: 6
                                CTRLS.ImageMutOption {
                                    objectName: "tick"
                                    width: 13
                                    height: 13
                                    anchors.verticalCenter: parent.verticalCenter
                                    state_image_0: Qt.resolvedUrl("images/select_normal_13_1.png")
                                    state_image_1: Qt.resolvedUrl("images/select_normal_13_1.png")
                                    state_image_2: Qt.resolvedUrl("images/select_selected_13_1.png")
                                    opt_state: role_select ? 2 : 0
                                    onClicked: root.procList.qmlSelect(index)
                                }
                                Image {
                                    objectName: "icon"
                                    width: 16
                                    height: 16
                                    anchors.verticalCenter: parent.verticalCenter
                                    smooth: true
                                    source: role_icon
                                }
                                TextBlack {
                                    objectName: "name"
                                    width: 180
                                    anchors.verticalCenter: parent.verticalCenter
                                    clip: true
                                    font.pixelSize: 12
                                    text: role_name
                                }
                                TextBlack {
                                    objectName: "memory"
                                    width: 80
                                    anchors.verticalCenter: parent.verticalCenter
                                    horizontalAlignment: Text.AlignRight
                                    font.pixelSize: 12
                                    text: role_memory
                                }
                            }
                        }
                    }

                    Loader {
                        anchors.fill: parent
                        sourceComponent: role_is_header ? header_row : item_row
                    }
                }
            }
        }
    }

    Rectangle {
        id: busy
        objectName: "busyOverlay"
        anchors.fill: parent
        color: "#000000"
        opacity: root.procList.isFixing ? 0.8 : 0

        Column {
            anchors.centerIn: parent
            width: parent.width
            spacing: 15
            Global.WaitorLoader {
                anchors.horizontalCenter: parent.horizontalCenter
                run: root.procList.isFixing
            }
            TextBlack {
                anchors.horizontalCenter: parent.horizontalCenter
                text: qsTr("Boosting...") + Translator.nulstr
                font.pixelSize: 14
                color: "#ffffff"
            }
        }
        // Only while it can be seen: a transparent overlay must not take the page's mouse.
        MouseArea {
            objectName: "busyArea"
            anchors.fill: parent
            hoverEnabled: true
            enabled: root.procList.isFixing
            onWheel: (wheel) => wheel.accepted = true
        }
    }
}

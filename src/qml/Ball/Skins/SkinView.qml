// SPDX-License-Identifier: GPL-3.0-or-later
// The skin chooser: a title to drag the window by, a close button that only hides it, and a
// grid of preview tiles; hovering a tile names the skin, a click dresses the ball in it.
import QtQuick
import "qrc:/Skin/Ctrls" as CTRLS

Rectangle {
    width: 484
    height: 324
    color: "#01080a"

    Rectangle {
        anchors.centerIn: parent
        width: 482
        height: 322
        border.color: "#1a2129"
        border.width: 1
        color: "#151b1f"

        Item {
            id: content
            anchors.centerIn: parent
            width: parent.width - 4
            height: parent.height - 4

            TitleDrag {
                id: title
                width: parent.width
                height: 28

                Row {
                    x: 8
                    height: parent.height
                    TextBlack {
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTr("Kest Lumen - ") + Translator.nulstr
                        color: "grey"
                        font.pixelSize: 12
                        font.bold: true
                        font.italic: true
                    }
                    TextBlack {
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTr("Skin Center") + Translator.nulstr
                        color: "grey"
                        font.pixelSize: 12
                        font.italic: true
                        font.bold: false
                    }
                }
                Row {
                    anchors.right: parent.right
                    CTRLS.ImageButton {
                        id: closebtn
                        objectName: "closebtn"
                        width: 20
                        height: 30
                        hot_image: "qrc:/Skin/images/btnclosehover.png"
                        normal_image: "qrc:/Skin/images/btnclosenormal.png"
                        pushed_image: "qrc:/Skin/images/btnclosepress.png"
                        onClicked: Bv.qmlHide()
                    }
                }
            }

            Rectangle {
                anchors.top: title.bottom
                width: parent.width
                height: content.height - title.height - 8
                clip: true

                GridView {
                    id: skins_view
                    objectName: "skins_view"
                    anchors.fill: parent
                    clip: true
                    cellWidth: 159
                    cellHeight: 104
                    model: SkinsList
                    delegate: Item {
                        width: skins_view.cellWidth
                        height: skins_view.cellHeight
                        Rectangle {
                            anchors.centerIn: parent
                            width: skins_view.cellWidth - 6
                            height: skins_view.cellHeight - 4
                            Image {
                                source: role_icon
                            }
                            Rectangle {
                                objectName: "veil"
                                anchors.fill: parent
                                color: "#aa050a0f"
                                opacity: tile_area.containsMouse ? 1 : 0
                                TextBlack {
                                    anchors.centerIn: parent
                                    text: role_name
                                    color: "#f5faff"
                                    font.pixelSize: 14
                                    font.bold: true
                                }
                            }
                            MouseArea {
                                id: tile_area
                                anchors.fill: parent
                                hoverEnabled: true
                                onClicked: SkinsList.qmlSelectIndex(index)
                            }
                        }
                    }
                }
                CTRLS.ScrollBar {
                    scrollArea: skins_view
                    height: skins_view.height
                    x: content.width - width
                }
            }
        }
    }
}

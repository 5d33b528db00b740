// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost Panel: a frame with a title bar (pin, share, screen capture, close), the Boost and
// Network pages sliding under it, and a tab bar that chooses the page or hands over to the
// host's cleaner. The selected page lives in the ball ("MainView"), so it survives the panel.
import QtQuick
import QtQml.Models
import "qrc:/Skin/Ctrls" as CTRLS

Rectangle {
    id: popup
    width: 334
    height: 484
    color: "#01080a"

    Rectangle {
        anchors.centerIn: parent
        width: 332
        height: 482
        border.color: "#1a2129"
        border.width: 1
        color: "#151b1f"

        Item {
            anchors.centerIn: parent
            width: 330
            height: 480

            Item {
                id: main_content
                objectName: "main_content"
                width: parent.width
                height: 480 - 30

                ObjectModel {
                    id: module_pages
                    PageProcess {
                        objectName: "pageProcess"
                        width: list_modules.width
                        height: list_modules.height
                    }
                    PageNetwork {
                        objectName: "pageNetwork"
                        width: list_modules.width
                        height: list_modules.height
                    }
                }

                ListView {
                    id: list_modules
                    objectName: "list_modules"
                    anchors.fill: parent
                    orientation: ListView.Horizontal
                    boundsBehavior: Flickable.StopAtBounds
                    clip: true
                    interactive: false
                    // The view keeps the current page in view, from the start (a panel made anew opens
                    // at the page the ball remembers) and over this time when it changes.
                    highlightRangeMode: ListView.StrictlyEnforceRange
                    preferredHighlightBegin: 0
                    preferredHighlightEnd: width
                    highlightMoveDuration: 300
                    highlightMoveVelocity: -1
                    currentIndex: MainView.currentPage
                    model: module_pages
                }
            }

            Item {
                id: title
                objectName: "title"
                width: parent.width
                height: 40

                TextBlack {
                    x: 10
                    y: 6
                    text: qsTr("Kest Boost Panel") + Translator.nulstr
                    color: "#62696e"
                    font.pixelSize: 12
                }

                Row {
                    anchors.right: parent.right
                    spacing: 4

                    // The host's controls resolve relative pictures against their own folder, so
                    // the pictures given to them are made absolute here.
                    CTRLS.ImageMutOption {
                        id: pin
                        objectName: "pin"
                        width: 20
                        height: 30
                        anchors.verticalCenter: parent.verticalCenter
                        state_image_0: Qt.resolvedUrl("images/btn_staples_h_20x30.png")
                        state_image_1: Qt.resolvedUrl("images/btn_staples_h_20x30.png")
                        state_image_2: Qt.resolvedUrl("images/btn_staples_n_20x30.png")
                        opt_state: MainView.isPopupPined ? 2 : 0
                        opacity: MainView.currentPage === 1 ? 1 : 0
                        // Pinning means something on the Network page only; elsewhere the
                        // unseen pin must not take clicks.
                        enabled: MainView.currentPage === 1
                        onClicked: MainView.isPopupPined = !MainView.isPopupPined
                    }
                    CTRLS.ImageButton {
                        id: facebookbtn
                        objectName: "facebookbtn"
                        width: 20
                        height: 30
                        hot_image: Qt.resolvedUrl("images/btn_facebook_h_20x30.png")
                        normal_image: Qt.resolvedUrl("images/btn_facebook_n_20x30.png")
                        pushed_image: Qt.resolvedUrl("images/btn_facebook_p_20x30.png")
                        onClicked: Bv.qmlFacebook()
                    }
                    CTRLS.ImageButton {
                        id: screenCapturebtn
                        objectName: "screenCapturebtn"
                        width: 20
                        height: 30
                        hot_image: Qt.resolvedUrl("images/btn_Screenshots_h_20x30.png")
                        normal_image: Qt.resolvedUrl("images/btn_Screenshots_n_20x30.png")
                        pushed_image: Qt.resolvedUrl("images/btn_Screenshots_p_20x30.png")
                        onClicked: Bv.qmlShowScreenCapture()
                    }
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

            Item {
                id: main_bottom
                objectName: "main_bottom"
                anchors.top: main_content.bottom
                width: parent.width
                height: 30

                ListModel {
                    id: tabOptModel
                    ListElement {
                        name: QT_TR_NOOP("Boost")
                        icon: "images/icon_small_boost_n_18.png"
                        vds_clean: false
                    }
                    ListElement {
                        name: QT_TR_NOOP("Network")
                        icon: "images/icon_small_network_n_18.png"
                        vds_clean: false
                    }
                    ListElement {
                        name: QT_TR_NOOP("Clean")
                        icon: "images/icon_small_cleaner_n_18.png"
                        vds_clean: true
                    }
                }

                ListView {
                    id: tabs
                    objectName: "tabs"
                    anchors.fill: parent
                    orientation: ListView.Horizontal
                    boundsBehavior: Flickable.StopAtBounds
                    clip: true
                    model: tabOptModel
                    highlight: Rectangle {
                        objectName: "tabHighlight"
                        color: SetsIndividual.bgState0Color
                    }
                    highlightMoveDuration: 200
                    highlightMoveVelocity: -1
                    highlightResizeDuration: 200
                    highlightResizeVelocity: -1
                    focus: true
                    currentIndex: MainView.currentPage
                    onCurrentIndexChanged: MainView.currentPage = currentIndex

                    delegate: Rectangle {
                        objectName: "tab" + index
                        width: 110
                        height: 30
                        color: "#00000000"
                        opacity: MainView.currentPage === index ? 1 : 0.4

                        CTRLS.ColorButton2 {
                            anchors.fill: parent
                            normal_color: "#002673ec"
                            hot_color: "#1f2833"
                            pushed_color: "#001e1e1e"
                            disable_color: "#003e3e3e"
                            onClicked: {
                                if (vds_clean)
                                    MainView.qmlToCleanPage()
                                else
                                    MainView.currentPage = index
                            }
                        }
                        Row {
                            anchors.centerIn: parent
                            spacing: 10
                            Image {
                                anchors.verticalCenter: parent.verticalCenter
                                source: icon
                            }
                            TextBlack {
                                anchors.verticalCenter: parent.verticalCenter
                                clip: true
                                font.bold: true
                                font.pixelSize: 12
                                color: SetsIndividual.textColor
                                text: qsTr(name) + Translator.nulstr
                            }
                        }
                    }
                }
            }
        }
    }
}

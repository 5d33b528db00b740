// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick

Rectangle {
    id: menu
    width: 210
    height: column.height + 8
    color: "#fbfcfd"
    border.color: "#b9c3cc"
    radius: 3
    focus: true

    property int current: -1

    function move(step) {
        var n = Menu.actions.length
        for (var i = 1; i <= n; ++i) {
            var k = ((current < 0 ? (step > 0 ? -1 : 0) : current) + step * i + n * 2) % n
            if (Menu.actions[k].enabled) { current = k; return }
        }
    }

    Keys.onUpPressed: move(-1)
    Keys.onDownPressed: move(1)
    Keys.onReturnPressed: if (current >= 0) Menu.pick(current)
    Keys.onEnterPressed: if (current >= 0) Menu.pick(current)
    Keys.onEscapePressed: Bv.qmlClose()

    Component.onCompleted: Bv.qmlWindowResize(width, height)
    onHeightChanged: Bv.qmlWindowResize(width, height)

    Column {
        id: column
        x: 4; y: 4
        width: parent.width - 8
        Repeater {
            model: Menu.actions
            delegate: Column {
                width: column.width
                Rectangle {
                    objectName: "menuItem" + index
                    width: parent.width
                    height: 26
                    radius: 2
                    color: index === menu.current && modelData.enabled ? "#d8e8f8" : "transparent"
                    Image {
                        x: 6
                        anchors.verticalCenter: parent.verticalCenter
                        width: 16; height: 16
                        fillMode: Image.PreserveAspectFit
                        smooth: true
                        source: modelData.icon
                    }
                    Text {
                        x: 30
                        anchors.verticalCenter: parent.verticalCenter
                        text: modelData.text
                        font.family: SetsIndividual.font
                        font.pixelSize: 12
                        color: modelData.enabled ? "#151b1f" : "#9aa3ab"
                    }
                    MouseArea {
                        anchors.fill: parent
                        hoverEnabled: true
                        onEntered: menu.current = index
                        onClicked: Menu.pick(index)
                    }
                }
                Rectangle {
                    visible: modelData.separatorAfter && index < Menu.actions.length - 1
                    width: parent.width - 12; x: 6
                    height: visible ? 1 : 0
                    color: "#dde3e8"
                }
            }
        }
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import KestTypes 1.0

Item {
    id: ball_main
    width: 120
    height: 48

    Rectangle {
        anchors.fill: parent
        // Stands in for the skin fading out while memory is released.
        opacity: Bv.isEmptingMemorySet ? 0.35 : 1
        Behavior on opacity { NumberAnimation { duration: 120; easing.type: Easing.OutCubic } }
        radius: height / 2
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#3fbf7f" }
            GradientStop { position: 1.0; color: "#1d7a4c" }
        }
        border.color: "#145c39"
        Text {
            anchors.centerIn: parent
            text: "Verdant"
            color: "#f5faff"
            font.family: SetsIndividual.font
            font.pixelSize: 14
            font.bold: true
        }
    }

    MouseArea {
        id: drag
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        property bool moving: false
        onPressed: (mouse) => {
            if (mouse.button !== Qt.LeftButton) return
            moving = false
            Bv.mousePressed()
        }
        onPositionChanged: (mouse) => {
            if (!(mouse.buttons & Qt.LeftButton)) return
            Bv.mousePressChanged(VDSTypes.BVPA_Title)
            moving = true
        }
        onReleased: (mouse) => { if (moving) Bv.qmlRecordPos() }
        onClicked: (mouse) => {
            if (moving) { moving = false; return }
            if (mouse.button === Qt.RightButton) EP.qmlShowMenu()
            else EP.qmlDelayShowPopup()
        }
        onDoubleClicked: (mouse) => {
            if (mouse.button !== Qt.LeftButton) return
            EP.qmlCancelDelayShowPopup()
            EP.qmlReleaseMemory()
        }
    }

    // While memory is released the ball can be neither clicked nor dragged.
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        enabled: Bv.isEmptingMemorySet
    }

    Component.onCompleted: EP.qmlWindowResize(120, 48)
}

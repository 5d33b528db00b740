// SPDX-License-Identifier: GPL-3.0-or-later
// Drags its window with the left button and tells a click from the end of a drag and from a
// double click. The window moves in C++ from the event's global position (see BaseView).
import QtQuick
import KestUIExtension 1.0
import KestTypes 1.0

MouseArea {
    id: drag_area
    property bool dbclicked: false
    property bool enabledbclick: true
    property bool moving: false
    property bool rightMouse: false

    signal leftClicked()
    signal rightClicked()
    signal fixdbClicked()
    signal moveOver()

    hoverEnabled: true
    acceptedButtons: Qt.LeftButton | Qt.RightButton

    onPressed: (mouse) => {
        if (mouse.button === Qt.RightButton) {
            rightMouse = true
            return
        }
        rightMouse = false
        if (dbclicked)
            dbclicked = false
        Bv.mousePressed()
        moving = false
    }
    onPositionChanged: (mouse) => {
        // Hovering, a right-button press and the rest of a double click's second press do
        // not drag.
        if (rightMouse || !pressed || dbclicked)
            return
        Bv.mousePressChanged(VDSTypes.BVPA_Title)
        moving = true
    }
    onReleased: (mouse) => {
        if (moving)
            moveOver()
    }
    onClicked: (mouse) => {
        if (moving) {
            moving = false
            return
        }
        if (mouse.button === Qt.RightButton)
            rightClicked()
        else
            leftClicked()
    }
    onDoubleClicked: (mouse) => {
        if (!enabledbclick)
            return
        Bv.mouseTitleDoubleClicked()
        dbclicked = true
        fixdbClicked()
    }
}

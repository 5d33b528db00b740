// SPDX-License-Identifier: GPL-3.0-or-later
// The note above the ball after a memory release: fades in, stays two seconds, fades out and
// then tells its window to hide.
import QtQuick

Item {
    id: movie
    width: 160
    height: 50

    property bool showFlag: Bv.showFlag

    Rectangle {
        anchors.fill: parent
        color: "#0b62b8"
    }

    TextBlack {
        anchors.centerIn: parent
        width: parent.width - 6
        color: "#f5faff"
        text: Bv.text
        font.pixelSize: 12
        wrapMode: Text.WordWrap
        horizontalAlignment: Text.AlignHCenter
    }

    Timer {
        id: delay_timer
        interval: 2000
        repeat: false
        onTriggered: closeWindow()
    }

    function showWindow() {
        state = "working"
        delay_timer.start()
    }

    function closeWindow() {
        state = "closing"
    }

    states: [
        State { name: "working"; PropertyChanges { target: movie; opacity: 1 } },
        State { name: "closing"; PropertyChanges { target: movie; opacity: 0 } }
    ]
    transitions: [
        Transition {
            to: "working"
            ParallelAnimation { PropertyAnimation { property: "opacity"; duration: 50 } }
        },
        Transition {
            to: "closing"
            ParallelAnimation { PropertyAnimation { property: "opacity"; duration: 800 } }
        }
    ]

    onShowFlagChanged: {
        if (showFlag)
            showWindow()
    }
    onOpacityChanged: {
        if (opacity === 0 && state === "closing")
            Bv.showFlag = false
    }
}

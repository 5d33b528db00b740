// SPDX-License-Identifier: GPL-3.0-or-later
// A turning ring of dots shown while something runs.
import QtQuick

Item {
    id: root
    property bool run: false
    width: 40; height: 40
    visible: run
    Repeater {
        model: 8
        Rectangle {
            width: 6; height: 6; radius: 3
            color: "#ffffff"
            opacity: 0.25 + 0.75 * index / 7
            x: root.width / 2 - 3 + Math.cos(index * Math.PI / 4) * (root.width / 2 - 4)
            y: root.height / 2 - 3 + Math.sin(index * Math.PI / 4) * (root.height / 2 - 4)
        }
    }
    RotationAnimation on rotation {
        running: root.run
        from: 0; to: 360; duration: 1000
        loops: Animation.Infinite
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A whole number from 0 to 99 in large digits (tens, units), without a unit.
import QtQuick
import KestUIExtension 1.0 as KEST

Item {
    id: root
    width: digits.width
    height: 60
    property int value: 0

    Row {
        id: digits
        KEST.ImageDigit {
            objectName: "tens"
            width: 40
            height: 60
            clip: true
            digitStart: -4
            digitSize: Qt.size(40, 60)
            source: "images/digitals_560x60.png"
            digit: (root.value - root.value % 10) / 10
        }
        KEST.ImageDigit {
            objectName: "units"
            width: 40
            height: 60
            clip: true
            digitStart: -4
            digitSize: Qt.size(40, 60)
            source: "images/digitals_560x60.png"
            digit: root.value % 10
        }
    }
}

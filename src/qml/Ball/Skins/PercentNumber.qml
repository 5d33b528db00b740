// SPDX-License-Identifier: GPL-3.0-or-later
// A whole percentage in large digits (tens, units) followed by a percent sign. The digits are
// drawn beyond the item's declared width.
import QtQuick
import KestUIExtension 1.0 as KEST

Item {
    id: root
    width: 40
    height: 60
    property int value: 0

    Row {
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
        Image {
            objectName: "percent"
            width: 24
            height: 24
            clip: true
            source: "images/%_24.png"
        }
    }
}

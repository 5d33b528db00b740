// SPDX-License-Identifier: GPL-3.0-or-later
// The panel document in the test window, with room below it where the mouse can go.
import QtQuick

Item {
    width: 334
    height: 520
    property alias loader: loader
    readonly property Item panel: loader.item

    Loader {
        id: loader
        focus: true
        source: "qrc:/Ball/Skins/PopUp.qml"
    }
}

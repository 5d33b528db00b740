// SPDX-License-Identifier: GPL-3.0-or-later
// The screen capture document: the desktop element is told its view and window, and the view
// closes when the element is done.
import QtQuick
import QtTest

Item {
    id: root
    width: 200
    height: 100

    Loader {
        id: loader
        focus: true
        width: 200
        height: 100
        source: "qrc:/Ball/Skins/ScreenCaptureView.qml"
    }

    TestCase {
        name: "ScreenCaptureView"
        when: windowShown

        function test_escapeClosesTheView() {
            const desk = loader.item.children[0]
            compare(desk.objectName, "img_desk")
            compare(desk.thisWndId, Bv.winId)
            compare(desk.parentView, Bv)
            compare(desk.width, loader.item.width)
            verify(desk.activeFocus)
            Bv.clear()
            keyClick(Qt.Key_Escape)
            compare(Bv.calls, ["qmlClose"])
            keyClick(Qt.Key_Escape)
            compare(Bv.calls, ["qmlClose"])
        }
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The ball document's mouse handling, its release state and its skins, through the real
// documents from the resources.
import QtQuick
import QtTest

Item {
    id: root
    width: 400
    height: 300

    Loader {
        id: ball
        source: "qrc:/Ball/Skins/BallView.qml"
    }

    TestCase {
        id: tc
        name: "BallView"
        when: windowShown

        readonly property string defaultFace: "qrc:/Ball/Skins/BallSkinDef.qml"

        function titleDrag() { return ball.item.children[0] }
        function skinItem() { return titleDrag().children[0].item }
        function find(item, name) {
            if (!item)
                return null
            if (item.objectName === name)
                return item
            for (let i = 0; i < item.children.length; ++i) {
                const found = find(item.children[i], name)
                if (found)
                    return found
            }
            return null
        }
        // The calls without the repeated moves of a drag.
        function calls() {
            const out = []
            for (const c of Bv.calls)
                if (out.length === 0 || out[out.length - 1] !== c || c !== "mousePressChanged 1")
                    out.push(c)
            return out
        }

        function init() {
            Bv.isEmptingMemorySet = false
            tryCompare(titleDrag(), "opacity", 1)
            Bv.wearSkin(defaultFace)
            tryCompare(ball.item, "width", 120)
            tryCompare(ball.item, "height", 48)
            FlowDataList.memoryUsage = 7
            FlowDataList.cpuUsage = 42
            // Far apart in time from the previous test's clicks.
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            Bv.clear()
        }

        function test_leftClickAsksForThePopup() {
            mouseClick(ball.item, 90, 24)
            compare(calls(), ["mousePressed", "qmlDelayShowPopup"])
        }

        function test_defaultFaceButtonAsksForThePopup() {
            mouseClick(ball.item, 24, 24)
            compare(calls(), ["qmlDelayShowPopup"])
        }

        function test_defaultFaceButtonDoubleClickReleases() {
            mouseDoubleClickSequence(ball.item, 24, 24)
            compare(calls(), ["qmlDelayShowPopup", "qmlCancelDelayShowPopup", "qmlReleaseMemory"])
        }

        function test_doubleClickCancelsThePopupAndReleases() {
            mouseDoubleClickSequence(ball.item, 90, 24)
            compare(calls(), ["mousePressed", "qmlDelayShowPopup", "mousePressed",
                              "mouseTitleDoubleClicked", "qmlCancelDelayShowPopup",
                              "qmlReleaseMemory"])
            verify(titleDrag().dbclicked)
        }

        function test_dragIsNoClick() {
            mousePress(ball.item, 80, 20)
            mouseMove(ball.item, 84, 22)
            mouseMove(ball.item, 92, 26)
            mouseMove(ball.item, 100, 30)
            verify(titleDrag().moving)
            mouseRelease(ball.item, 100, 30)
            compare(calls(), ["mousePressed", "mousePressChanged 1", "qmlCancelDelayShowPopup",
                              "mousePressChanged 1", "qmlRecordPos"])
            verify(!titleDrag().moving)
            // The next plain click is a click again.
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            Bv.clear()
            mouseClick(ball.item, 90, 24)
            compare(calls(), ["mousePressed", "qmlDelayShowPopup"])
        }

        function test_rightClickOpensTheMenu() {
            mouseClick(ball.item, 90, 24, Qt.RightButton)
            compare(calls(), ["qmlShowMenu"])
        }

        function test_rightDragDoesNotMove() {
            mousePress(ball.item, 80, 20, Qt.RightButton)
            mouseMove(ball.item, 90, 26, -1, Qt.RightButton)
            mouseMove(ball.item, 100, 30, -1, Qt.RightButton)
            mouseRelease(ball.item, 100, 30, Qt.RightButton)
            compare(calls(), ["qmlShowMenu"])
            verify(!titleDrag().moving)
        }

        function test_hoverDoesNothing() {
            mouseMove(ball.item, 70, 10)
            mouseMove(ball.item, 100, 30)
            compare(calls(), [])
        }

        function test_releaseSwallowsTheMouse() {
            Bv.isEmptingMemorySet = true
            tryCompare(titleDrag(), "opacity", 0)
            const light = find(ball.item, "releaseLight")
            verify(light !== null)
            tryVerify(function() { return light.rotation > 0 })
            mouseClick(ball.item, 90, 24)
            mouseClick(ball.item, 24, 24)
            mouseClick(ball.item, 90, 24, Qt.RightButton)
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            mouseDoubleClickSequence(ball.item, 90, 24)
            mousePress(ball.item, 80, 20)
            mouseMove(ball.item, 100, 30)
            mouseRelease(ball.item, 100, 30)
            compare(calls(), [])

            Bv.isEmptingMemorySet = false
            // The animation goes at once; the skin fades back.
            compare(find(ball.item, "releaseLight"), null)
            tryCompare(titleDrag(), "opacity", 1)
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            mouseClick(ball.item, 90, 24)
            compare(calls(), ["mousePressed", "qmlDelayShowPopup"])
        }

        function test_releaseAnimationGrowsTheRing() {
            Bv.isEmptingMemorySet = true
            const ring = find(ball.item, "releaseShadow")
            verify(ring !== null)
            tryVerify(function() { return ring.width > 60 && ring.width <= 108 })
            verify(ring.height === ring.width)
        }

        function test_skins_data() {
            const s = "qrc:/Ball/Skins/BallSkins/"
            return [
                { tag: "Christmas", url: s + "Christmas/main.qml", w: 170, h: 180 },
                { tag: "Halloween", url: s + "Halloween/main.qml", w: 200, h: 110 },
                { tag: "Lighter", url: s + "Lighter/main.qml", w: 95, h: 115 },
                { tag: "egg", url: s + "egg/main.qml", w: 120, h: 115 },
                { tag: "notebook", url: s + "notebook/main.qml", w: 150, h: 100 },
                { tag: "shaver", url: s + "shaver/main.qml", w: 140, h: 80 },
                { tag: "tennis", url: s + "tennis/main.qml", w: 160, h: 75 },
                { tag: "tissue", url: s + "tissue/main.qml", w: 130, h: 130 },
                { tag: "Default", url: defaultFace, w: 120, h: 48 },
            ]
        }

        function test_skins(data) {
            if (data.url === defaultFace) {
                Bv.wearSkin("qrc:/Ball/Skins/BallSkins/egg/main.qml")
                tryCompare(ball.item, "height", 115)
            }
            Bv.wearSkin(data.url)
            tryCompare(ball.item, "width", data.w)
            tryCompare(ball.item, "height", data.h)
            compare(Bv.lastResize, data.w + "x" + data.h)
            const skin = skinItem()
            compare(skin.width, data.w)
            compare(skin.height, data.h)
            const ram = find(skin, "ramText")
            const cpu = find(skin, "cpuText")
            compare(ram.text, "RAM: 7%")
            compare(cpu.text, "CPU: 42%")
            verify(cpu.y > ram.y)
            // The figures follow the model.
            FlowDataList.memoryUsage = 100
            FlowDataList.cpuUsage = 0
            compare(ram.text, "RAM: 100%")
            compare(cpu.text, "CPU: 0%")
            // A click anywhere on the face away from its own controls is the ball's.
            wait(Qt.styleHints.mouseDoubleClickInterval + 50)
            Bv.clear()
            mouseClick(ball.item, data.w - 8, data.h / 2)
            compare(calls(), ["mousePressed", "qmlDelayShowPopup"])
        }
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A test case on a loaded panel document: before each test the ball, its lists and the
// traffic figures go back to their known state, the pages settle and the mouse leaves.
import QtQuick
import QtTest

TestCase {
    id: tc
    when: windowShown

    // The window's panel view, its loaded document, and a point of the window outside it.
    property PanelView view: null
    readonly property Item panel: view ? view.panel : null
    property point away: Qt.point(160, 505)

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
    function findIn(item, name) {
        const found = find(item, name)
        verify(found !== null, "no item named " + name)
        return found
    }
    // Every item below item that passes the test, in tree order.
    function collect(item, test, out) {
        out = out || []
        if (!item)
            return out
        if (test(item))
            out.push(item)
        for (let i = 0; i < item.children.length; ++i)
            collect(item.children[i], test, out)
        return out
    }
    // The delegate of a list's row, once the list has made it.
    function rowOf(list, i) {
        tryVerify(function() { return list.itemAtIndex(i) !== null }, 5000, "no row " + i)
        return list.itemAtIndex(i)
    }
    function settle(list, x) {
        tryCompare(list, "contentX", x)
        tryVerify(function() { return !list.moving })
    }
    function moveAway() { mouseMove(view, away.x, away.y) }
    // As a hand clicks: the mouse comes over the point first, so hover follows it in and out.
    function clickAt(item, x, y) {
        mouseMove(item, x, y)
        mouseClick(item, x, y)
    }
    function clickCentre(item) { clickAt(item, item.width / 2, item.height / 2) }
    function hover(item) { mouseMove(item, item.width / 2, item.height / 2) }
    // Keeps a picture of the panel when the run asks for pictures (VB_PANEL_SHOTS).
    function shot(name) {
        if (Fixture.shotDir === "")
            return
        waitForRendering(panel)
        grabImage(panel).save(Fixture.shotDir + "/" + name + ".png")
    }
    // A test case's own preparation, after the common one.
    function prepare() {}

    function init() {
        Fixture.reset()
        Translator.setLanguage("")
        moveAway()
        Bv.clear()
        tc.prepare()
    }
}

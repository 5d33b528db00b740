// SPDX-License-Identifier: GPL-3.0-or-later
// The Network page on the ball's real traffic model: the connection state and totals, the
// rows with their speeds (ended ones dimmed), and blocking: pause on hover only, a blocked
// row keeping its play button and mark wherever the mouse is.
import QtQuick
import QtTest

PanelView {
    id: root

    PanelCase {
        id: tc
        name: "NetworkPage"
        view: root

        function page() { return findIn(panel, "pageNetwork") }
        function list() { return findIn(page(), "statics_list") }
        function row(i) { return rowOf(list(), i) }
        function buttons(i) { return findIn(row(i), "blockButtons") }
        // What a row shows with the mouse where it is: name, speeds, dimmed, mark, buttons.
        function shown(i) {
            const r = row(i)
            const b = buttons(i)
            return {
                name: findIn(r, "name").text,
                down: findIn(r, "inSpeed").text,
                up: findIn(r, "outSpeed").text,
                opacity: findIn(r, "rowFigures").opacity,
                mark: findIn(r, "blockedMark").visible,
                buttons: b.opacity,
                play: findIn(b, "btn_diable").visible,
                pause: findIn(b, "btn_enable").visible,
            }
        }

        function prepare() {
            MainView.currentPage = 1
            settle(findIn(panel, "list_modules"), 330)
        }

        function test_connectionState_data() {
            return [
                { tag: "connected", net: true, text: "Network is OK", image: "net0_130x60.png" },
                { tag: "disconnected", net: false, text: "Network is disconnected",
                  image: "net1_130x60.png" },
            ]
        }
        function test_connectionState(data) {
            Fixture.sample(30, 0, 8, data.net)
            compare(findIn(page(), "networkState").text, data.text)
            const image = findIn(page(), "networkImage")
            compare(String(image.source), "images/" + data.image)
            tryCompare(image, "status", Image.Ready)
            compare(findIn(page(), "totalIn").text, "1.50 MB")
            compare(findIn(page(), "totalOut").text, "700.00 B")
        }

        // Where the Boost views draw their button (and the Network page nothing), the page
        // shows its background: neither view of the page beside it shows through, whichever
        // is current and however the page was reached.
        function test_boostViewsStayOutOfSight() {
            const spot = Qt.point(305, 60)
            const background = function() {
                waitForRendering(panel)
                return String(grabImage(panel).pixel(spot.x, spot.y))
            }
            compare(background(), "#151b1f")
            for (const view of [1, 0, 1]) {
                MainView.currentProcPage = view
                settle(findIn(panel, "list_Procs"), view * 330)
                compare(background(), "#151b1f", "view " + view)
                MainView.currentPage = 0
                settle(findIn(panel, "list_modules"), 0)
                verify(background() !== "#151b1f", "the boost button is not at the spot")
                MainView.currentPage = 1
                settle(findIn(panel, "list_modules"), 330)
                compare(background(), "#151b1f", "view " + view + " after the Boost page")
            }
        }

        function test_rows() {
            compare(list().count, 4)
            const expected = [
                { name: "fetcher", down: "1.50 KB/s", up: "500.00 B/s", opacity: 1 },
                { name: "ended", down: "-", up: "-", opacity: 0.6 },
                { name: "syncer", down: "3.00 MB/s", up: "0.00 B/s", opacity: 1 },
                { name: "background-synchronisation-agent", down: "1024.00 KB/s",
                  up: "1023.00 B/s", opacity: 1 },
            ]
            for (let i = 0; i < expected.length; ++i) {
                const s = shown(i)
                for (const key in expected[i])
                    compare(s[key], expected[i][key], "row " + i + " " + key)
                compare(s.mark, false)
                compare(s.buttons, 0)
                const icon = findIn(row(i), "icon")
                // The model's relative default icon, found beside the page documents.
                compare(String(icon.source), "images/icon_proc_default.png")
                tryCompare(icon, "status", Image.Ready)
                // The buttons sit inside the row, right of the speeds.
                const b = buttons(i).mapToItem(list(), 0, 0)
                verify(b.x + 32 <= list().width, "buttons at " + b.x)
                verify(b.x >= findIn(row(i), "outSpeed").mapToItem(list(), 64, 0).x)
                // Every text keeps to its column.
                for (const column of ["name", "inSpeed", "outSpeed"]) {
                    const t = findIn(row(i), column)
                    verify(t.contentWidth <= t.width, "row " + i + " " + column + ": " + t.text)
                }
            }
            shot("network")
        }

        function test_pauseShowsOnHoverOnly() {
            hover(findIn(row(0), "name"))
            compare(shown(0).buttons, 1)
            compare(shown(0).pause, true)
            compare(shown(0).play, false)
            compare(findIn(row(0), "rowHover").opacity, 1)
            compare(shown(2).buttons, 0)
            hover(findIn(buttons(0), "btn_enable"))
            compare(shown(0).buttons, 1)
            shot("network-hover")
            moveAway()
            compare(shown(0).buttons, 0)
            compare(Fixture.filterRequests(), [])
        }

        function test_blockAndUnblock_data() {
            return [
                { tag: "live row", row: 0, path: "/opt/vbtest/fetcher.bin" },
                { tag: "ended row", row: 1, path: "/opt/vbtest/ended.bin" },
                { tag: "last row", row: 2, path: "/opt/vbtest/syncer.bin" },
            ]
        }
        function test_blockAndUnblock(data) {
            hover(row(data.row))
            clickCentre(findIn(buttons(data.row), "btn_enable"))
            compare(Fixture.filterRequests(), ["block " + data.path])
            // With the mouse elsewhere, and after the next sample, the row stays marked.
            moveAway()
            Fixture.sample(30, 0, 8, true)
            let s = shown(data.row)
            compare(s.mark, true)
            compare(s.buttons, 1)
            compare(s.play, true)
            compare(s.pause, false)
            for (let i = 0; i < list().count; ++i) {
                if (i !== data.row) {
                    compare(shown(i).buttons, 0, "row " + i)
                    compare(shown(i).mark, false, "row " + i)
                }
            }
            shot("network-blocked-" + data.row)

            hover(row(data.row))
            clickCentre(findIn(buttons(data.row), "btn_diable"))
            compare(Fixture.filterRequests(), ["block " + data.path, "unblock " + data.path])
            moveAway()
            s = shown(data.row)
            compare(s.mark, false)
            compare(s.buttons, 0)
            compare(s.pause, true)
        }
    }
}

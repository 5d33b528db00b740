// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost page's Office and Game views on the ball's real lists: figures and status texts
// at their thresholds, the rows as enumerated, ticking, the half-inert switch, the boost
// button fixing its own list, and the overlay that takes the mouse while a fix runs.
import QtQuick
import QtTest

PanelView {
    id: root

    SignalSpy { id: rowClicks; signalName: "clicked" }
    SignalSpy { id: tickClicks; signalName: "clicked" }
    SignalSpy { id: boostClicks; signalName: "clicked" }
    SignalSpy { id: switchClicks; signalName: "clicked" }
    SignalSpy { id: fixing; signalName: "isFixingChanged" }

    PanelCase {
        id: tc
        name: "BoostPages"
        view: root

        readonly property var views: [
            { tag: "Office", index: 0, list: ProcDataListOffice },
            { tag: "Game", index: 1, list: ProcDataListGame },
        ]

        // Shows the view (0 Office, 1 Game) and returns its page.
        function showView(index) {
            MainView.currentProcPage = index
            settle(findIn(panel, "list_Procs"), index * 330)
            return findIn(panel, index === 0 ? "pageOffice" : "pageGame")
        }
        function list(page) { return findIn(page, "statics_list") }
        function row(page, i) { return rowOf(list(page), i) }
        function digits(page) {
            const n = findIn(page, "numberDisplay")
            return [findIn(n, "tens").digit, findIn(n, "units").digit]
        }
        // The rows as shown: "H name memory" for a header, "name memory ticked" for an item.
        function shownRows(page) {
            const out = []
            for (let i = 0; i < list(page).count; ++i) {
                const r = row(page, i)
                const header = find(r, "headerRow")
                if (header) {
                    out.push("H " + header.children[0].text + " " + header.children[1].text)
                    continue
                }
                const item = findIn(r, "itemRow")
                out.push(findIn(item, "name").text + " " + findIn(item, "memory").text + " "
                         + (findIn(item, "tick").opt_state === 2 ? "ticked" : "-"))
            }
            return out
        }
        function test_memoryStatus_data() {
            return [
                { tag: "7", load: 7, digits: [0, 7], text: "Your PC performance is pretty good" },
                { tag: "54", load: 54, digits: [5, 4], text: "Your PC performance is pretty good" },
                { tag: "55", load: 55, digits: [5, 5], text: "Your PC is overburden" },
                { tag: "79", load: 79, digits: [7, 9], text: "Your PC is overburden" },
                { tag: "80", load: 80, digits: [8, 0], text: "Your PC is out of memory" },
                { tag: "99", load: 99, digits: [9, 9], text: "Your PC is out of memory" },
            ]
        }
        function test_memoryStatus(data) {
            const page = showView(0)
            Fixture.sample(data.load, 0, 8, true)
            compare(digits(page), data.digits)
            compare(findIn(page, "statusText").text, data.text)
            if (data.load === 80)
                shot("office-out-of-memory")
        }

        // Grades from the sampler's rule: cpu, load and free GiB chosen to give them exactly.
        function test_gameScore_data() {
            return [
                { tag: "75 online", cpu: 0, load: 0, gib: 8, net: true, grade: 75,
                  digits: [9, 0], text: "Excellent to play game" },
                { tag: "75 offline", cpu: 0, load: 0, gib: 8, net: false, grade: 75,
                  digits: [7, 5], text: "Slow to play game" },
                { tag: "71 online", cpu: 0, load: 10, gib: 8, net: true, grade: 71,
                  digits: [8, 6], text: "Excellent to play game" },
                { tag: "70 online", cpu: 30, load: 0, gib: 8, net: true, grade: 70,
                  digits: [8, 5], text: "Slow to play game" },
                { tag: "61 offline", cpu: 0, load: 35, gib: 8, net: false, grade: 61,
                  digits: [6, 1], text: "Slow to play game" },
                { tag: "60 offline", cpu: 60, load: 15, gib: 8, net: false, grade: 60,
                  digits: [6, 0], text: "Frozen to play game" },
                { tag: "45 online", cpu: 0, load: 75, gib: 8, net: true, grade: 45,
                  digits: [6, 0], text: "Frozen to play game" },
            ]
        }
        function test_gameScore(data) {
            const page = showView(1)
            Fixture.sample(data.load, data.cpu, data.gib, data.net)
            compare(FlowDataList.performanceGrade, data.grade)
            compare(digits(page), data.digits)
            compare(findIn(page, "statusText").text, data.text)
            compare(findIn(page, "scoreLabel").text, "Score")
            if (data.tag === "75 online")
                shot("game-90")
        }

        // Every status line and button text, in both languages, stays clear of its
        // neighbours and inside the top area.
        function test_textsFit_data() {
            const rows = []
            for (const lang of ["", "de"])
                for (const v of views)
                    for (const load of [30, 60, 90])
                        rows.push({ tag: v.tag + " " + load + " " + (lang || "en"), lang: lang,
                                    index: v.index, load: load })
            return rows
        }
        function test_textsFit(data) {
            const page = showView(data.index)
            Translator.setLanguage(data.lang)
            Fixture.sample(data.load, data.load, 2, data.load < 60)
            const status = findIn(page, "statusText")
            const sw = findIn(page, "switch")
            const start = status.mapToItem(page, 0, 0)
            verify(start.x + status.contentWidth + 4 <= sw.mapToItem(page, 0, 0).x,
                   status.text + " runs under the switch")
            verify(start.y + status.contentHeight <= 160, status.text + " leaves the top area")
            verify(status.lineCount <= 2, status.text)
            const boost = findIn(page, "boostText")
            verify(boost.contentWidth + 8 <= 120, boost.text)
            if (data.load === 90 && data.lang === "de")
                shot("status-de-" + data.index)
        }

        function test_rows_data() {
            return [
                { tag: "Office", index: 0, rows: [
                    "H Advice 3.00 MB", "Office Helper 3.00 MB ticked",
                    "H Optional 1.50 MB", "notes 1.50 MB -"] },
                { tag: "Game", index: 1, rows: [
                    "H Advice 5.00 MB", "game.service 5.00 MB ticked",
                    "H Optional 1.50 MB", "notes 1.50 MB -"] },
            ]
        }
        function test_rows(data) {
            const page = showView(data.index)
            compare(shownRows(page), data.rows)
            // Both rows fall back to the default icon, found beside the page documents.
            for (const i of [1, 3]) {
                const icon = findIn(row(page, i), "icon")
                compare(String(icon.source), "images/icon_proc_default.png")
                tryCompare(icon, "status", Image.Ready)
                compare(icon.width, 16)
                compare(icon.height, 16)
            }
            shot("rows-" + data.tag)
        }

        function test_tickByRowOrBox_data() {
            return [
                { tag: "Office row", index: 0, target: "row" },
                { tag: "Office box", index: 0, target: "tick" },
                { tag: "Game row", index: 1, target: "row" },
                { tag: "Game box", index: 1, target: "tick" },
            ]
        }
        function test_tickByRowOrBox(data) {
            const page = showView(data.index)
            const notes = findIn(row(page, 3), "itemRow")
            const tick = findIn(notes, "tick")
            const target = data.target === "row" ? findIn(notes, "memory") : tick
            compare(tick.opt_state, 0)
            clickCentre(target)
            compare(tick.opt_state, 2)
            // The row stays lit while the mouse is on its tick box or its text.
            compare(findIn(notes, "rowHover").opacity, 1)
            clickCentre(target)
            compare(tick.opt_state, 0)
            // A header row has nothing to click: the ticks stay.
            clickCentre(row(page, 2))
            compare(shownRows(page)[1].endsWith("ticked"), true)
            compare(shownRows(page)[3].endsWith(" -"), true)
            moveAway()
            compare(findIn(notes, "rowHover").opacity, 0)
        }

        function test_switchHasOneLiveHalf_data() {
            return [
                { tag: "Office", index: 0, inert: [1, 17, 34], live: [36, 52, 69], to: 1 },
                { tag: "Game", index: 1, inert: [36, 52, 69], live: [1, 17, 34], to: 0 },
            ]
        }
        function test_switchHasOneLiveHalf(data) {
            const page = showView(data.index)
            const sw = findIn(page, "switch")
            switchClicks.target = findIn(sw, "switchButton")
            switchClicks.clear()
            for (const x of data.inert)
                clickAt(sw, x, 10)
            compare(switchClicks.count, 0)
            compare(MainView.currentProcPage, data.index)
            for (const x of data.live) {
                MainView.currentProcPage = data.index
                clickAt(sw, x, 10)
                compare(MainView.currentProcPage, data.to, "x " + x)
            }
            compare(switchClicks.count, data.live.length)
            settle(findIn(panel, "list_Procs"), data.to * 330)
        }

        function test_boostFixesItsOwnList_data() {
            return [
                { tag: "Office", index: 0, stopped: ["office.service"],
                  after: ["H Optional 1.50 MB", "notes 1.50 MB -"] },
                { tag: "Game", index: 1, stopped: ["game.service"],
                  after: ["H Optional 1.50 MB", "notes 1.50 MB -"] },
            ]
        }
        function test_boostFixesItsOwnList(data) {
            const page = showView(data.index)
            const model = views[data.index].list
            fixing.target = model
            fixing.clear()
            clickCentre(findIn(page, "btnboost"))
            tryCompare(fixing, "count", 2, 10000)
            compare(Fixture.stoppedServices(), data.stopped)
            compare(shownRows(page), data.after)
        }

        function test_overlayTakesTheMouseWhileFixing_data() { return views }
        function test_overlayTakesTheMouseWhileFixing(data) {
            const page = showView(data.index)
            const other = findIn(panel, data.index === 0 ? "pageGame" : "pageOffice")
            const overlay = findIn(page, "busyOverlay")
            const notes = findIn(row(page, 3), "itemRow")
            const tick = findIn(notes, "tick")
            const boost = findIn(page, "btnboost")
            compare(overlay.opacity, 0)
            Fixture.holdFixes(true)
            clickCentre(boost)
            verify(data.list.isFixing)
            compare(overlay.opacity, 0.8)
            compare(findIn(other, "busyOverlay").opacity, 0)
            shot("fixing-" + data.tag)

            rowClicks.target = notes
            tickClicks.target = tick
            boostClicks.target = boost
            for (const spy of [rowClicks, tickClicks, boostClicks])
                spy.clear()
            hover(notes)
            compare(findIn(notes, "rowHover").opacity, 0)
            clickCentre(findIn(notes, "memory"))
            clickCentre(tick)
            clickCentre(boost)
            clickAt(findIn(page, "switch"), data.index === 0 ? 52 : 17, 10) // its live half
            compare(rowClicks.count, 0)
            compare(tickClicks.count, 0)
            compare(boostClicks.count, 0)
            compare(tick.opt_state, 0)
            compare(MainView.currentProcPage, data.index)
            verify(data.list.isFixing)
            compare(Fixture.stoppedServices(), [])
            // The figures keep following the samples under the overlay.
            Fixture.sample(81, 0, 8, false)
            compare(digits(page), data.index === 0 ? [8, 1] : [4, 2])

            // Once the fix is over the page takes the mouse again.
            fixing.target = data.list
            fixing.clear()
            Fixture.holdFixes(false)
            tryCompare(fixing, "count", 1, 10000)
            compare(overlay.opacity, 0)
            const notesAfter = findIn(row(page, 1), "itemRow")
            hover(notesAfter)
            compare(findIn(notesAfter, "rowHover").opacity, 1)
            clickCentre(findIn(notesAfter, "tick"))
            compare(findIn(notesAfter, "tick").opt_state, 2)
        }
    }
}

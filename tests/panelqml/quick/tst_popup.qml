// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's frame: the tabs by mouse and by keys, the Clean hand-over, the pin, the title
// buttons, the state kept by the ball, every picture found, and the German texts.
import QtQuick
import QtTest

PanelView {
    id: root

    SignalSpy {
        id: cleanSpy
        target: MainView
        signalName: "toCleanPage"
    }

    PanelCase {
        id: tc
        name: "PopUp"
        view: root

        function pages() { return findIn(panel, "list_modules") }
        function tabs() { return findIn(panel, "tabs") }
        function tab(i) { return rowOf(tabs(), i) }
        function pin() { return findIn(panel, "pin") }
        function highlight() { return findIn(tabs(), "tabHighlight") }
        // Where the tab bar shows the given page: its tab lit, the others dimmed, the
        // highlight under it and the page list at it.
        function verifyShown(index, pageX) {
            for (let i = 0; i < 3; ++i)
                compare(tab(i).opacity, i === index ? 1 : 0.4, "tab " + i)
            tryCompare(highlight(), "x", tab(index).x)
            compare(highlight().width, 110)
            settle(pages(), pageX)
        }

        function test_tabClick_data() {
            return [
                { tag: "Network from Boost", from: 0, click: 1, page: 1, x: 330 },
                { tag: "Boost from Network", from: 1, click: 0, page: 0, x: 0 },
                { tag: "Boost again", from: 0, click: 0, page: 0, x: 0 },
            ]
        }
        function test_tabClick(data) {
            MainView.currentPage = data.from
            settle(pages(), data.from * 330)
            clickCentre(tab(data.click))
            compare(MainView.currentPage, data.page)
            compare(tabs().currentIndex, data.page)
            verifyShown(data.page, data.x)
            compare(pin().opacity, data.page === 1 ? 1 : 0)
            compare(cleanSpy.count, 0)
            shot("panel-tab-" + data.page)
        }

        function test_cleanClickLeavesPageAndTab_data() {
            return [ { tag: "from Boost", page: 0 }, { tag: "from Network", page: 1 } ]
        }
        function test_cleanClickLeavesPageAndTab(data) {
            MainView.currentPage = data.page
            verifyShown(data.page, data.page * 330)
            cleanSpy.clear()
            clickCentre(tab(2))
            compare(cleanSpy.count, 1)
            compare(MainView.currentPage, data.page)
            compare(tabs().currentIndex, data.page)
            verifyShown(data.page, data.page * 330)
        }

        function test_keysMoveTheTabUpToClean() {
            cleanSpy.clear()
            verify(tabs().activeFocus, "the tab list holds the keyboard focus")
            const steps = [
                { key: Qt.Key_Right, page: 1 },
                { key: Qt.Key_Right, page: 2 },
                { key: Qt.Key_Right, page: 2 },
                { key: Qt.Key_Left, page: 1 },
                { key: Qt.Key_Left, page: 0 },
                { key: Qt.Key_Left, page: 0 },
            ]
            for (const s of steps) {
                keyClick(s.key)
                compare(MainView.currentPage, s.page)
                compare(tabs().currentIndex, s.page)
                // "Clean" has no page: the Network page stays in view.
                verifyShown(s.page, Math.min(s.page, 1) * 330)
                if (s.page === 2)
                    shot("panel-tab-clean-by-keys")
            }
            compare(cleanSpy.count, 0)
        }

        function test_pinOnlyOnTheNetworkPage() {
            const p = pin()
            // Invisible on the Boost page, and a click where it would be does nothing.
            compare(p.opacity, 0)
            clickCentre(p)
            compare(MainView.isPopupPined, false)
            MainView.currentPage = 1
            compare(p.opacity, 1)
            const image = p.children[0]
            moveAway()
            compare(String(image.source), "qrc:/Ball/Skins/images/btn_staples_h_20x30.png")
            tryCompare(image, "status", Image.Ready)
            clickCentre(p)
            compare(MainView.isPopupPined, true)
            compare(String(image.source), "qrc:/Ball/Skins/images/btn_staples_n_20x30.png")
            tryCompare(image, "status", Image.Ready)
            shot("panel-pinned")
            clickCentre(p)
            compare(MainView.isPopupPined, false)
            // Back on the Boost page a pinned panel's pin is out of reach again.
            MainView.isPopupPined = true
            MainView.currentPage = 0
            compare(p.opacity, 0)
            clickCentre(p)
            compare(MainView.isPopupPined, true)
        }

        function test_titleButtons_data() {
            return [
                { tag: "share", button: "facebookbtn", call: "qmlFacebook" },
                { tag: "capture", button: "screenCapturebtn", call: "qmlShowScreenCapture" },
                { tag: "close", button: "closebtn", call: "qmlHide" },
            ]
        }
        function test_titleButtons(data) {
            clickCentre(findIn(panel, data.button))
            compare(Bv.calls, [data.call])
        }

        // The pages, tab and pin live in the ball: a panel made again shows them as they were.
        function test_newPanelShowsTheBallsState() {
            MainView.currentPage = 1
            MainView.currentProcPage = 1
            MainView.isPopupPined = true
            root.loader.source = ""
            root.loader.source = "qrc:/Ball/Skins/PopUp.qml"
            tryVerify(function() { return root.loader.status === Loader.Ready })
            compare(MainView.currentPage, 1)
            compare(tabs().currentIndex, 1)
            verifyShown(1, 330)
            settle(findIn(panel, "list_Procs"), 330)
            compare(pin().opt_state, 2)
            verify(tabs().activeFocus)
        }

        // Every picture of the panel is found, drawn at its own size where the layout does
        // not size it.
        function test_everyPictureLoads() {
            MainView.currentPage = 1
            const images = collect(panel, function(i) {
                return i.hasOwnProperty("status") && i.hasOwnProperty("sourceSize")
            })
            verify(images.length > 20, "found " + images.length)
            for (const image of images) {
                if (String(image.source) === "")
                    continue
                tryCompare(image, "status", Image.Ready, 5000, String(image.source))
                verify(image.sourceSize.width > 0, String(image.source))
            }
            const sized = {
                "images/net0_130x60.png": [130, 60],
                "images/icon_small_boost_n_18.png": [18, 18],
                "images/btn_boost_1_n_120x35.png": [120, 35],
                "images/btn_Switch_pc_n_70x20.png": [70, 20],
                "images/select_normal_13_1.png": [13, 13],
                "images/select_selected_13_1.png": [13, 13],
                "images/%_24.png": [24, 24],
                "images/btn_facebook_n_20x30.png": [20, 30],
            }
            for (const name in sized) {
                const found = images.filter(function(i) {
                    return decodeURIComponent(String(i.source)).endsWith(name)
                })
                verify(found.length > 0, name)
                compare(found[0].sourceSize.width, sized[name][0], name)
                compare(found[0].sourceSize.height, sized[name][1], name)
            }
        }

        // Each tab's icon and name fit its 110 pixels in both languages.
        function test_tabsFit_data() { return [ { tag: "en", lang: "" }, { tag: "de", lang: "de" } ] }
        function test_tabsFit(data) {
            Translator.setLanguage(data.lang)
            for (let i = 0; i < 3; ++i) {
                const row = tab(i).children[1]
                verify(row.width <= 110, "tab " + i + " is " + row.width + " wide")
                compare(row.children[0].status, Image.Ready)
                compare(row.children[0].width, 18)
            }
        }

        function test_germanTexts_data() {
            return [
                { tag: "title", page: 0, en: "Kest Boost Panel", de: "Kest Boost-Panel" },
                { tag: "Boost tab", page: 0, en: "Boost", de: "Boost" },
                { tag: "Network tab", page: 0, en: "Network", de: "Netzwerk" },
                { tag: "Clean tab", page: 0, en: "Clean", de: "Bereinigen" },
                { tag: "memory status", page: 0, en: "Your PC performance is pretty good",
                  de: "Ihr PC läuft recht gut" },
                { tag: "PC boost", page: 0, en: "PC BOOST", de: "PC-BOOST" },
                { tag: "boosting", page: 0, en: "Boosting...", de: "Wird beschleunigt …" },
                { tag: "game boost", page: 0, en: "GAME BOOST", de: "SPIEL-BOOST" },
                { tag: "score", page: 0, en: "Score", de: "Wertung" },
                { tag: "game status", page: 0, en: "Slow to play game",
                  de: "Langsam zum Spielen" },
                { tag: "network state", page: 1, en: "Network is OK", de: "Netzwerk ist OK" },
                { tag: "download", page: 1, en: "Download", de: "Empfangen" },
                { tag: "upload", page: 1, en: "Upload", de: "Gesendet" },
                // Figures (load, cpu, free GiB, connected) that bring up the other texts.
                { tag: "overburden", page: 0, sample: [60, 0, 8, true],
                  en: "Your PC is overburden", de: "Ihr PC ist überlastet" },
                { tag: "out of memory", page: 0, sample: [90, 0, 8, true],
                  en: "Your PC is out of memory", de: "Ihr PC hat keinen freien Speicher" },
                { tag: "excellent", page: 0, sample: [0, 0, 8, true],
                  en: "Excellent to play game", de: "Bestens zum Spielen" },
                { tag: "frozen", page: 0, sample: [90, 0, 8, false],
                  en: "Frozen to play game", de: "Zu träge zum Spielen" },
                { tag: "disconnected", page: 1, sample: [30, 0, 8, false],
                  en: "Network is disconnected", de: "Netzwerk ist getrennt" },
            ]
        }
        function test_germanTexts(data) {
            MainView.currentPage = data.page
            if (data.sample)
                Fixture.sample(data.sample[0], data.sample[1], data.sample[2], data.sample[3])
            const texts = collect(panel, function(i) {
                return i.hasOwnProperty("font") && i.hasOwnProperty("text") && i.text === data.en
            })
            verify(texts.length > 0, "no text " + data.en)
            verify(Translator.setLanguage("de"))
            for (const t of texts)
                compare(t.text, data.de)
            if (data.tag === "title")
                shot("panel-german")
            Translator.setLanguage("")
            for (const t of texts)
                compare(t.text, data.en)
        }
    }
}

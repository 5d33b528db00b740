// SPDX-License-Identifier: GPL-3.0-or-later
// The ball window: the current skin over a drag area, the release animation in the middle
// while memory is being released, and a cover that swallows the mouse meanwhile.
import QtQuick

Item {
    id: ball_main
    width: 120
    height: 60

    readonly property string defaultFace: "qrc:/Ball/Skins/BallSkinDef.qml"

    // A skin sets the ball's size itself; the window's bounds hold it, so a skin can neither
    // cover the desktop with an invisible window nor shrink the ball out of reach.
    function bounded(v, lo, hi) {
        if (typeof lo !== "number" || typeof hi !== "number" || lo > hi)
            return v
        return isNaN(v) ? lo : Math.max(lo, Math.min(hi, v))
    }
    onWidthChanged: {
        const w = bounded(width, Bv.minimumWidth, Bv.maximumWidth)
        if (w !== width)
            width = w
    }
    onHeightChanged: {
        const h = bounded(height, Bv.minimumHeight, Bv.maximumHeight)
        if (h !== height)
            height = h
    }

    TitleDrag {
        id: title_drag
        anchors.fill: parent
        opacity: Bv.isEmptingMemorySet ? 0 : 1
        Behavior on opacity {
            NumberAnimation { duration: 120; easing.type: Easing.OutCubic }
        }

        Loader {
            id: skin_loader
            anchors.fill: parent
            // A skin that cannot be loaded is replaced by the default face until another
            // skin is chosen, so the ball never turns into an invisible window.
            property string brokenSkin: ""
            readonly property string wantedSkin: SkinsList ? SkinsList.currentSkinUrl : ""
            source: wantedSkin !== "" && wantedSkin === brokenSkin ? ball_main.defaultFace
                                                                   : wantedSkin
            // A document whose root is no visual item loads "ready" and shows nothing: look once
            // the Loader has settled.
            onStatusChanged: Qt.callLater(checkSkin)
            onItemChanged: Qt.callLater(checkSkin)
            // An image that could not be read (too large for the image reader, not a regular
            // file) leaves a skin without its face: only loose text that can hardly be grabbed.
            function hasBrokenImage(it) {
                if (it instanceof Image && it.status === Image.Error)
                    return true
                for (let i = 0; i < it.children.length; ++i) {
                    if (hasBrokenImage(it.children[i]))
                        return true
                }
                return false
            }
            function checkSkin() {
                const failed = status === Loader.Error
                               || (status === Loader.Ready && !(item instanceof Item))
                               || (status === Loader.Ready && hasBrokenImage(item))
                const wanted = wantedSkin
                if (failed && wanted !== ball_main.defaultFace && brokenSkin !== wanted) {
                    console.log("BallView: the skin " + wanted
                                + " cannot be loaded; wearing the default face")
                    brokenSkin = wanted
                }
            }
        }

        onLeftClicked: EP.qmlDelayShowPopup()
        onRightClicked: EP.qmlShowMenu()
        onFixdbClicked: {
            EP.qmlCancelDelayShowPopup()
            EP.qmlReleaseMemory()
        }
        onMoveOver: Bv.qmlRecordPos()
        onMovingChanged: {
            if (moving)
                Bv.qmlCancelDelayShowPopup()
        }
    }

    Connections {
        target: SkinsList
        function onCurrentSkinChanged() { skin_loader.brokenSkin = "" }
    }

    Item {
        id: movie_area
        width: 108
        height: 108
        anchors.centerIn: parent
        Loader {
            id: movie_loader
            anchors.fill: parent
            sourceComponent: Bv.isEmptingMemorySet ? movie : empty
        }
    }

    // While memory is released the ball can be neither clicked nor dragged, by any button.
    MouseArea {
        id: release_cover
        anchors.fill: parent
        enabled: Bv.isEmptingMemorySet
        acceptedButtons: Qt.AllButtons
    }

    Component {
        id: empty
        Item {}
    }

    Component {
        id: movie
        Item {
            Image {
                anchors.centerIn: parent
                source: "images/ani_bg_48.png"
            }
            Image {
                id: light
                objectName: "releaseLight"
                anchors.centerIn: parent
                source: "images/ani_Light_48.png"
                smooth: true
            }
            Image {
                id: shadow
                objectName: "releaseShadow"
                anchors.centerIn: parent
                width: 32
                height: 32
                source: "images/ani_shandow_78.png"
                smooth: true
            }
            ParallelAnimation {
                running: true
                loops: Animation.Infinite
                NumberAnimation {
                    target: light; property: "rotation"; from: 0; to: 360; duration: 1000
                }
                NumberAnimation {
                    target: shadow; property: "width"; from: 32; to: 108; duration: 1200
                    easing.type: Easing.OutExpo
                }
                NumberAnimation {
                    target: shadow; property: "height"; from: 32; to: 108; duration: 1200
                    easing.type: Easing.OutExpo
                }
                NumberAnimation {
                    target: shadow; property: "opacity"; from: 1; to: 0; duration: 1200
                    easing.type: Easing.InQuint
                }
            }
        }
    }
}

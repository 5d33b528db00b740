// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost page: slides between the Office view and the Game view as the ball's current
// process page says.
import QtQuick
import QtQml.Models

Item {
    id: root

    // Whether a view at x in the list can be seen. A view out of sight is hidden: the software
    // renderer does not clip this list inside the panel's page list, and the view beside the
    // shown one would appear on the Network page.
    function inSight(x, w) {
        return x < list_Procs.contentX + list_Procs.width && x + w > list_Procs.contentX
    }

    Item {
        anchors.fill: parent

        ObjectModel {
            id: proc_pages
            PageOffice {
                objectName: "pageOffice"
                width: list_Procs.width
                height: list_Procs.height
                visible: root.inSight(x, width)
            }
            PageGame {
                objectName: "pageGame"
                width: list_Procs.width
                height: list_Procs.height
                visible: root.inSight(x, width)
            }
        }

        ListView {
            id: list_Procs
            objectName: "list_Procs"
            anchors.fill: parent
            orientation: ListView.Horizontal
            boundsBehavior: Flickable.StopAtBounds
            clip: true
            interactive: false
            // The view keeps the current page in view, from the start (a panel made anew opens
            // at the page the ball remembers) and over this time when it changes.
            highlightRangeMode: ListView.StrictlyEnforceRange
            preferredHighlightBegin: 0
            preferredHighlightEnd: width
            highlightMoveDuration: 300
            highlightMoveVelocity: -1
            currentIndex: MainView.currentProcPage
            model: proc_pages
        }
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost page: slides between the Office view and the Game view as the ball's current
// process page says.
import QtQuick
import QtQml.Models

Item {
    id: root

    Item {
        anchors.fill: parent

        ObjectModel {
            id: proc_pages
            PageOffice {
                objectName: "pageOffice"
                width: list_Procs.width
                height: list_Procs.height
            }
            PageGame {
                objectName: "pageGame"
                width: list_Procs.width
                height: list_Procs.height
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

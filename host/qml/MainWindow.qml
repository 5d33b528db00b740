// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick

Rectangle {
    width: 780
    height: 240
    color: "#f4f7f5"

    component HostButton: Rectangle {
        id: btn
        property string label
        signal clicked()
        width: 150; height: 34; radius: 4
        color: area.pressed ? "#17603c" : (area.containsMouse ? "#23895a" : "#1d7a4c")
        Text { anchors.centerIn: parent; text: btn.label; color: "white"; font.pixelSize: 13; font.family: SetsIndividual.font }
        MouseArea { id: area; anchors.fill: parent; hoverEnabled: true; onClicked: btn.clicked() }
    }

    Rectangle {
        width: 420; height: 64
        color: "#1d7a4c"
        Text {
            x: 20; anchors.verticalCenter: parent.verticalCenter
            text: "Verdant Suite"
            color: "white"; font.pixelSize: 22; font.bold: true; font.family: SetsIndividual.font
        }
    }
    Text {
        x: 20; y: 84; width: 380
        wrapMode: Text.WordWrap
        text: "The boost ball floats on your desktop. Drag it anywhere, click it for the Boost Panel, double-click it to release memory."
        color: "#151b1f"; font.pixelSize: 13; font.family: SetsIndividual.font
    }
    // The ball's Clean tab hands the user over to the suite's cleaner, which the demo lacks.
    Text {
        objectName: "cleanAsked"
        x: 20; y: 136
        visible: Host.cleanRequests > 0
        text: "The ball asked for the cleaner (" + Host.cleanRequests + ")."
        color: "#b03a2e"; font.pixelSize: 13; font.bold: true; font.family: SetsIndividual.font
    }
    Row {
        x: 20; y: 170; spacing: 16
        HostButton { objectName: "showBall"; label: "Show the ball"; onClicked: Host.showBall() }
        HostButton { objectName: "quit"; label: "Quit"; onClicked: Host.quit() }
        // Switches the language of everything shown, the ball's windows included, at once.
        HostButton {
            objectName: "language"; width: 66
            label: Translator.language === "de" ? "English" : "Deutsch"
            onClicked: Translator.setLanguage(Translator.language === "de" ? "en" : "de")
        }
    }

    // The Office boost list, shared with the ball: 30 px rows from y 44; a click ticks a row.
    Rectangle {
        x: 420; width: 360; height: parent.height
        color: "#f5f6f8"
        Text {
            objectName: "lastFix"
            x: 12; y: 12
            text: Ball.lastFixCount > 0 ? "Closed " + Ball.lastFixCount + ", " + Ball.lastFixMemoryStr : "Office boost"
            color: "#151b1f"; font.pixelSize: 12; font.family: SetsIndividual.font
        }
        HostButton {
            objectName: "boost"; label: "PC BOOST"; width: 120; height: 30
            x: parent.width - 132; y: 6
            onClicked: BoostList.qmlStartFix()
        }
        ListView {
            id: boostRows
            objectName: "boostRows"
            x: 0; y: 44; width: parent.width; height: parent.height - 44
            model: BoostList
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            delegate: Item {
                width: boostRows.width; height: 30
                Text {
                    visible: role_is_header
                    x: 12; anchors.verticalCenter: parent.verticalCenter
                    text: role_name + "  " + role_memory
                    font.bold: true; font.pixelSize: 12; color: "#1d7a4c"; font.family: SetsIndividual.font
                }
                MouseArea {
                    visible: !role_is_header
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: BoostList.qmlSelect(index)
                    Rectangle { anchors.fill: parent; color: "#e6e7e9"; opacity: parent.containsMouse ? 1 : 0 }
                    Row {
                        x: 12; spacing: 6; anchors.verticalCenter: parent.verticalCenter
                        Rectangle {
                            width: 13; height: 13; border.color: "#1d7a4c"; radius: 2
                            color: role_select ? "#1d7a4c" : "white"
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Image {
                            width: 16; height: 16; smooth: true
                            source: role_icon && role_icon.indexOf("file:") === 0 ? role_icon : ""
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Text { width: 200; clip: true; text: role_name; font.pixelSize: 12; font.family: SetsIndividual.font }
                        Text { width: 80; horizontalAlignment: Text.AlignRight; text: role_memory; font.pixelSize: 12; font.family: SetsIndividual.font }
                    }
                }
            }
        }
        // While the list fixes it is covered and takes no clicks.
        Rectangle {
            anchors.fill: parent
            color: "black"
            opacity: BoostList.isFixing ? 0.8 : 0
            Text { anchors.centerIn: parent; text: "Boosting..."; color: "white"; font.pixelSize: 14; font.family: SetsIndividual.font }
            MouseArea { anchors.fill: parent; enabled: BoostList.isFixing; hoverEnabled: enabled }
        }
    }
}

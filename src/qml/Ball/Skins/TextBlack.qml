// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick

Text {
    font.family: SetsIndividual.font
    color: "#151b1f"
    font.pixelSize: 11
}

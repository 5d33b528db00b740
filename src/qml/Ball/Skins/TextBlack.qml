// SPDX-License-Identifier: GPL-3.0-or-later
// The library's usual text: the host's font, dark ink, 11 pixels.
import QtQuick

Text {
    font.family: SetsIndividual.font
    color: "#151b1f"
    font.pixelSize: 11
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A text in the host's font; colour and size are the user's.
import QtQuick

Text {
    font.family: SetsIndividual.font
}

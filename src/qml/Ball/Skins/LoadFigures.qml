// SPDX-License-Identifier: GPL-3.0-or-later
// The two load lines of a face. They change once a second, so the per-second work is kept to
// formatting a number: the translated texts are looked up only when the language changes.
import QtQml

QtObject {
    // Absent where a face is only previewed (the skin chooser).
    readonly property QtObject source: typeof FlowDataList !== "undefined" ? FlowDataList : null
    readonly property string ramFormat: qsTranslate("BallViewer", "RAM: %1%") + Translator.nulstr
    readonly property string cpuFormat: qsTranslate("BallViewer", "CPU: %1%") + Translator.nulstr
    readonly property string ram: ramFormat.arg(source ? source.memoryUsage : 0)
    readonly property string cpu: cpuFormat.arg(source ? source.cpuUsage : 0)
}

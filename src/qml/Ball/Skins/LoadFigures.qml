// SPDX-License-Identifier: GPL-3.0-or-later
// The two load lines of a face. A new sample arrives every second, mostly with the same two
// figures: only the figures are read then (an unchanged number notifies nobody), the texts are
// made again only when a figure changes, and the translations are looked up only when the
// language does.
import QtQml

QtObject {
    // Absent where a face is only previewed (the skin chooser).
    readonly property QtObject source: typeof FlowDataList !== "undefined" ? FlowDataList : null
    readonly property int ramValue: source ? source.memoryUsage : 0
    readonly property int cpuValue: source ? source.cpuUsage : 0
    readonly property string ramFormat: qsTranslate("BallViewer", "RAM: %1%") + Translator.nulstr
    readonly property string cpuFormat: qsTranslate("BallViewer", "CPU: %1%") + Translator.nulstr
    readonly property string ram: ramFormat.arg(ramValue)
    readonly property string cpu: cpuFormat.arg(cpuValue)
}

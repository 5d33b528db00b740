// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/sizetext.h"

#include <QCoreApplication>

namespace vb {

QString sizeText(quint64 bytes)
{
    constexpr quint64 kKiB = 1024;
    constexpr quint64 kMiB = kKiB * 1024;
    constexpr quint64 kGiB = kMiB * 1024;
    double divisor = 1;
    const char* unit = QT_TRANSLATE_NOOP("QObject", "B");
    if (bytes >= kGiB) {
        divisor = double(kGiB);
        unit = QT_TRANSLATE_NOOP("QObject", "GB");
    } else if (bytes >= kMiB) {
        divisor = double(kMiB);
        unit = QT_TRANSLATE_NOOP("QObject", "MB");
    } else if (bytes >= kKiB) {
        divisor = double(kKiB);
        unit = QT_TRANSLATE_NOOP("QObject", "KB");
    }
    return QStringLiteral("%1 %2")
        .arg(double(bytes) / divisor, 0, 'f', 2)
        .arg(QCoreApplication::translate("QObject", unit));
}

} // namespace vb

// SPDX-License-Identifier: GPL-3.0-or-later
// The size text every window shows for a byte count ("1.50 MB").
#pragma once

#include <QString>

namespace vb {

// "%1 %2": the count in B, KB, MB or GB with two decimals; units translated in "QObject".
QString sizeText(quint64 bytes);

} // namespace vb

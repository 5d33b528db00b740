// SPDX-License-Identifier: GPL-3.0-or-later
// The icon file of an application, found through its desktop entry and the icon theme.
#pragma once

#include "helper/vdshelper_export.h"

#include <QString>

class VDSHELPER_EXPORT ExtractFileIcon
{
public:
    // A local image file showing the executable's icon, empty when none is known. The second
    // argument is unused (callers pass an empty string).
    static QString fileIcon(const QString& executablePath, const QString& unused);
    // Desktop entries and themes are read once and remembered; tests that install new ones
    // forget what was read.
    static void clearCache();
};

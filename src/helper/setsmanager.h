// SPDX-License-Identifier: GPL-3.0-or-later
// The host's per-user settings store (an INI file in the user's XDG configuration folder).
#pragma once

#include "helper/vdshelper_export.h"

#include <QString>
#include <QVariant>

class VDSHELPER_EXPORT SetsManager
{
public:
    // The stored value of key, or def when there is none or the store cannot be read.
    static QVariant readValueUser(const QString& key, const QVariant& def = QVariant());
    // Stores value under key and writes it out at once, so a crash loses nothing.
    static void saveValueUser(const QString& key, const QVariant& value);
    // Forgets key (the host clears values it owns; tests start clean).
    static void removeValueUser(const QString& key);
    // The settings file's path.
    static QString userFilePath();
};

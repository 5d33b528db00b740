// SPDX-License-Identifier: GPL-3.0-or-later
// The host's general facts: where the application lives.
#pragma once

#include "helper/vdshelper_export.h"

#include <QString>

class VDSHELPER_EXPORT SetsGeneral
{
public:
    // The host executable's folder, without a trailing separator.
    static QString appPath();
    // Tests point the application folder elsewhere; an empty path restores the default.
    static void setAppPathForTests(const QString& path);
    // Installed, the application folder is read-only for users: their own "BallSkins" and
    // "pulsar.app" live in their XDG data and config folders, below "verdant-ball".
    static QString userDataPath(const QString& name);
    static QString userConfigPath(const QString& name);
};

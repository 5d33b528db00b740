// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtCore/qglobal.h>

#if defined(VERDANTBALL_BUILD)
#define VERDANTBALL_EXPORT Q_DECL_EXPORT
#else
#define VERDANTBALL_EXPORT Q_DECL_IMPORT
#endif

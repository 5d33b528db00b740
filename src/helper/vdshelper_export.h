// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtCore/qglobal.h>

#if defined(VDSHELPER_BUILD)
#define VDSHELPER_EXPORT Q_DECL_EXPORT
#else
#define VDSHELPER_EXPORT Q_DECL_IMPORT
#endif

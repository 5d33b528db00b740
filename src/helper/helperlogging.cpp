// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/helperlogging.h"

Q_LOGGING_CATEGORY(lcHelper, "vb.helper")

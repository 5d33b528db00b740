// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/logging.h"

Q_LOGGING_CATEGORY(lcBall, "vb.ball")
Q_LOGGING_CATEGORY(lcMemory, "vb.memory")
Q_LOGGING_CATEGORY(lcProcs, "vb.procs")
Q_LOGGING_CATEGORY(lcFlow, "vb.flow")
Q_LOGGING_CATEGORY(lcSkins, "vb.skins")
Q_LOGGING_CATEGORY(lcPlatform, "vb.platform")

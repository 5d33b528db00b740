// SPDX-License-Identifier: GPL-3.0-or-later
// One logging category per subsystem, so a user can turn one subsystem's lines on with
// QT_LOGGING_RULES (for example "vb.flow.debug=true"). Failures are logged at warning level.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcBall)     // vb.ball: the ball, its panel, note and menu
Q_DECLARE_LOGGING_CATEGORY(lcMemory)   // vb.memory: memory release and the usage sampler
Q_DECLARE_LOGGING_CATEGORY(lcProcs)    // vb.procs: process records, judges, boost lists, fixes
Q_DECLARE_LOGGING_CATEGORY(lcFlow)     // vb.flow: the filter device, traffic worker and model
Q_DECLARE_LOGGING_CATEGORY(lcSkins)    // vb.skins: the skin catalogue and chooser
Q_DECLARE_LOGGING_CATEGORY(lcPlatform) // vb.platform: the platform backends

// SPDX-License-Identifier: GPL-3.0-or-later
// The helper library's own logging category: it is a shared library of its own and does not
// link the ball's core, so its lines are turned on with "vb.helper.debug=true".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHelper)

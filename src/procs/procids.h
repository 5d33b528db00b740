// SPDX-License-Identifier: GPL-3.0-or-later
// Enumeration of running process ids, shared by the boost lists, the memory release, the fix
// worker and the traffic sampler.
#pragma once

#include "platform/types.h"

#include <functional>

// Calls cb for every non-zero process id, in the system's order, until it returns false.
// False when the ids cannot be read (nothing is called then). Keeps no state: any thread may
// call it.
bool enumProcessIds(const std::function<bool(vb::platform::ProcessId)>& cb);

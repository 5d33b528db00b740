// SPDX-License-Identifier: GPL-3.0-or-later
// Enumeration of running process ids, shared by the boost lists, the memory release, the fix
// worker and the traffic sampler.
#pragma once

#include "platform/processes.h"

#include <functional>
#include <memory>

// Calls cb for every non-zero process id that processes reports, in its order, until cb
// returns false. False when the ids cannot be read or there is no backend (nothing is called
// then). Keeps no state: any thread may call it with the backend it was given.
bool enumProcessIds(const std::shared_ptr<vb::platform::IProcesses>& processes,
                    const std::function<bool(vb::platform::ProcessId)>& cb);

// SPDX-License-Identifier: GPL-3.0-or-later
// Enumeration of running process ids, shared by the boost lists, the memory release, the fix
// worker and the traffic sampler.
#pragma once

#include <cstdint>
#include <functional>

using DWORD = uint32_t;

// Calls cb for every non-zero process id until it returns false. False when the ids cannot
// be read (nothing is called then).
bool enumProcessIds(const std::function<bool(DWORD)>& cb);

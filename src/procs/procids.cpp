// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procids.h"

#include "platform/platform.h"

bool enumProcessIds(const std::function<bool(DWORD)>& cb)
{
    auto procs = vb::platform::current().processes;
    if (!procs)
        return false;
    std::vector<vb::platform::ProcessId> ids;
    if (!procs->processIds(ids))
        return false;
    for (vb::platform::ProcessId id : ids)
        if (id != 0 && !cb(id))
            break;
    return true;
}

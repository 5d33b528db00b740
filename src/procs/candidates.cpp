// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/candidates.h"

#include <QString>

using namespace vb::platform;

int enumCandidates(const std::shared_ptr<IServices>& services,
                   const std::shared_ptr<ITopLevelWindows>& windows, CandidateFn fn)
{
    int flags = 0;
    const bool listed = enumServiceCandidates(services, [&fn](const ServiceInfo& s) {
        if (s.keyName.empty())
            return;
        const std::wstring key = QString::fromStdString(s.keyName).toStdWString();
        const std::wstring display = QString::fromStdString(s.displayName).toStdWString();
        fn(s.processId, key.c_str(), display.c_str(), &s);
    });
    if (listed)
        flags |= CE_Services;
    if (enumWindowCandidates(
            windows, [&fn](ProcessId pid) { fn(pid, nullptr, nullptr, nullptr); }, services))
        flags |= CE_Windows;
    return flags;
}

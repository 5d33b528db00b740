// SPDX-License-Identifier: GPL-3.0-or-later
// The candidates of a boost list: the running services with their host processes, then the
// processes that own an application window.
#pragma once

#include "procs/candidaterules.h"
#include "procs/procids.h"

#include "platform/services.h"
#include "platform/toplevelwindows.h"

#include <QObject>

#include <functional>
#include <memory>

// Process id, service key name, service display name, and what the service manager knows of
// the service; the names and the service are null for a windowed process.
using CandidateFn = std::function<void(vb::platform::ProcessId, const wchar_t*, const wchar_t*,
                                       const vb::platform::ServiceInfo*)>;

enum CandidateFlags : int {
    CE_Services = 0x1, // the services were enumerated
    CE_Windows = 0x2,  // the window walk succeeded
};

// Services first, then windowed processes in ascending id; returns CandidateFlags. The
// processes that head the session's application units count as windowed: native Wayland
// clients own no X window.
int enumCandidates(const std::shared_ptr<vb::platform::IServices>& services,
                   const std::shared_ptr<vb::platform::ITopLevelWindows>& windows, CandidateFn fn);

// Process start and exit would be reported here; the lists learn of changes from the traffic
// sampler instead, so nothing creates or emits it.
class ProcEventNotifyer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void ProcessLife(bool started);
};

// SPDX-License-Identifier: GPL-3.0-or-later
// Which services and which windowed processes are candidates of a boost list. Plain C++ on the
// seam's interfaces alone, so every backend runs the same rules.
#pragma once

#include "platform/services.h"
#include "platform/toplevelwindows.h"

#include <functional>
#include <memory>

using ServiceCandidateFn = std::function<void(const vb::platform::ServiceInfo&)>;
using WindowCandidateFn = std::function<void(vb::platform::ProcessId)>;

// Every service that is neither stopped nor stopping, in the manager's order.
bool enumServiceCandidates(const std::shared_ptr<vb::platform::IServices>& services,
                           const ServiceCandidateFn& fn);
// Once per process that owns a visible, unowned, non-tool top-level window, or (services
// given) heads an application unit, ascending. The result is the window walk's.
bool enumWindowCandidates(const std::shared_ptr<vb::platform::ITopLevelWindows>& windows,
                          const WindowCandidateFn& fn,
                          const std::shared_ptr<vb::platform::IServices>& services = nullptr);

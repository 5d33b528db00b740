// SPDX-License-Identifier: GPL-3.0-or-later
// What the service tests and their test service agree on.
#pragma once

namespace vbtest {

// The slow service's wait hint while it stops: far beyond the time a stop is given.
constexpr unsigned long kSlowWaitHintMs = 30000;
// The event that lets the slow service end its stop.
constexpr const wchar_t* kReleaseEvent = L"Global\\vb_testservice_release";

} // namespace vbtest

// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by tests that create a real ball: the ball starts its sampling worker, which would
// install and start the filter service on this machine when the tests run as root.
#pragma once

#include "platform/fake/fakefilter.h"
#include "platform/platform.h"

namespace vb::test {

inline void keepFilterServiceAway(vb::platform::Platform& p)
{
    auto notElevated = std::make_shared<vb::platform::fake::FakeElevation>();
    notElevated->elevated = false;
    p.elevation = notElevated;
}

} // namespace vb::test

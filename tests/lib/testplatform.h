// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by tests that create a real ball: the ball starts its sampling worker, which would
// install and start the filter service on this machine when the tests run as root.
#pragma once

#include "platform/fake/fakefilter.h"
#include "platform/fake/fakeplatform.h"
#include "platform/platform.h"

namespace vb::test {

inline void keepFilterServiceAway(vb::platform::Platform& p)
{
    auto notElevated = std::make_shared<vb::platform::fake::FakeElevation>();
    notElevated->elevated = false;
    p.elevation = notElevated;
}

// What every test ball runs on: screens and hot keys the test scripts, and no filter service.
// Tests add the other backends they need to platform() before they install or pass it.
struct BallFakes
{
    std::shared_ptr<vb::platform::fake::FakeScreens> screens =
        std::make_shared<vb::platform::fake::FakeScreens>();
    std::shared_ptr<vb::platform::fake::FakeHotKeys> hotKeys =
        std::make_shared<vb::platform::fake::FakeHotKeys>();

    vb::platform::Platform platform() const
    {
        vb::platform::Platform p;
        p.screens = screens;
        p.hotKeys = hotKeys;
        keepFilterServiceAway(p);
        return p;
    }
};

} // namespace vb::test

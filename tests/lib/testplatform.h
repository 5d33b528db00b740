// SPDX-License-Identifier: GPL-3.0-or-later
// Backend bundles for tests: fakes over the native backends, and a bundle that keeps the ball's
// sampling worker from installing and starting the filter service on this machine when the
// tests run as root.
#pragma once

#include "platform/fake/fakefilter.h"
#include "platform/fake/fakememory.h"
#include "platform/fake/fakeplatform.h"
#include "platform/fake/fakevolumes.h"
#include "platform/platform.h"

namespace vb::test {

// The native backends with the given pieces in their place; pieces left empty stay native.
inline vb::platform::Platform nativeExcept(const vb::platform::Platform& fakes)
{
    vb::platform::Platform p = vb::platform::makeNative();
    const auto keep = [](auto& into, const auto& from) {
        if (from)
            into = from;
    };
    keep(p.screens, fakes.screens);
    keep(p.hotKeys, fakes.hotKeys);
    keep(p.processes, fakes.processes);
    keep(p.memory, fakes.memory);
    keep(p.workingSets, fakes.workingSets);
    keep(p.services, fakes.services);
    keep(p.windows, fakes.windows);
    keep(p.volumes, fakes.volumes);
    keep(p.network, fakes.network);
    keep(p.elevation, fakes.elevation);
    keep(p.filterDevice, fakes.filterDevice);
    keep(p.driverService, fakes.driverService);
    return p;
}

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

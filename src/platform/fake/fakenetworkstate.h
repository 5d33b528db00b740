// SPDX-License-Identifier: GPL-3.0-or-later
// A connection state the test sets; counts how often it was asked.
#pragma once

#include "platform/network.h"

#include <atomic>

namespace vb::platform::fake {

class FakeNetworkState : public INetworkState
{
public:
    std::atomic<bool> connected{false};
    std::atomic<int> queries{0};
    bool isConnected() override
    {
        ++queries;
        return connected;
    }
};

} // namespace vb::platform::fake

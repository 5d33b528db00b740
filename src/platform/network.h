// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the machine is connected to a network.
#pragma once

namespace vb::platform {

class INetworkState
{
public:
    virtual ~INetworkState() = default;
    virtual bool isConnected() = 0;
};

} // namespace vb::platform

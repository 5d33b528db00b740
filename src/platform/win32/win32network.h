// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the machine is online, as the WinINet connection state says.
#pragma once

#include "platform/network.h"

namespace vb::platform::win32 {

class Win32NetworkState : public INetworkState
{
public:
    bool isConnected() override;
};

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32network.h"

#include "platform/win32/winapi.h"

#include <wininet.h>

namespace vb::platform::win32 {

bool Win32NetworkState::isConnected()
{
    DWORD flags = 0; // how it is connected: not needed, only whether
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

} // namespace vb::platform::win32

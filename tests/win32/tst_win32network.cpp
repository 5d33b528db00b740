// SPDX-License-Identifier: GPL-3.0-or-later
// The network state, run once where the machine has a route out ("online") and once in an
// empty network namespace ("offline"); tools/wintest.sh starts each in its own wine session.
#include "check.h"

#include "platform/win32/win32network.h"

#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2 ||
        (std::strcmp(argv[1], "online") != 0 && std::strcmp(argv[1], "offline") != 0)) {
        std::fprintf(stderr, "usage: tst_win32network online|offline\n");
        return 2;
    }
    const bool expected = std::strcmp(argv[1], "online") == 0;
    return vbtest::run({
        {"connected state",
         [expected] {
             vb::platform::win32::Win32NetworkState net;
             VB_CHECK_EQ(net.isConnected(), expected);
         }},
    });
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A drive map set by the test; the identity pair by default, as where image paths are final.
#pragma once

#include "platform/volumes.h"

namespace vb::platform::fake {

class FakeVolumes : public IVolumes
{
public:
    std::vector<std::pair<std::string, std::string>> map{{std::string(), std::string()}};
    int calls = 0;
    std::vector<std::pair<std::string, std::string>> driveMap() override
    {
        ++calls;
        return map;
    }
};

} // namespace vb::platform::fake

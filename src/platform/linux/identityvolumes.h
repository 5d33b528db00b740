// SPDX-License-Identifier: GPL-3.0-or-later
// Image paths on Linux are final already: one empty prefix maps every absolute path to itself.
#pragma once

#include "platform/volumes.h"

namespace vb::platform::linux_ {

class IdentityVolumes : public IVolumes
{
public:
    std::vector<std::pair<std::string, std::string>> driveMap() override
    {
        return {{std::string(), std::string()}};
    }
};

} // namespace vb::platform::linux_

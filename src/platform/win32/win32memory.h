// SPDX-License-Identifier: GPL-3.0-or-later
// System memory figures, CPU times and the tick counter.
#pragma once

#include "platform/memory.h"

namespace vb::platform::win32 {

class Win32SystemMemory : public ISystemMemory
{
public:
    // Windows counts its standby list as available, so the free figure is the available one.
    bool memoryStatus(MemoryStatus& out) override;
    bool systemTimes(SystemTimes& out) override;
    uint32_t tickCountMs() override;
    void sleepMs(uint32_t ms) override;
};

} // namespace vb::platform::win32

// SPDX-License-Identifier: GPL-3.0-or-later
// The buffer protocol of the filter device's list reads, apart from any handle's owner, so that
// tests drive it with scripted replies.
#pragma once

#include "filterwire/filterwire.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vb::platform {
class IFilterHandle;
}

namespace vb::flow {

// Reads one list with the first/continued codes, handing every complete chunk to onChunk.
// True when the last call succeeded.
bool readList(vb::platform::IFilterHandle& handle, uint32_t firstCode, uint32_t nextCode,
              const std::function<void(const uint8_t*, size_t)>& onChunk);

// One chunk of the connection list. A count that does not match the length writes the
// diagnostic line to the wide standard output and yields nothing.
void decodeConnectionChunk(
    const uint8_t* data, size_t length,
    const std::function<void(const vb::filterwire::ConnectionItem&)>& onItem);

} // namespace vb::flow

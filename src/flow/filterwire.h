// SPDX-License-Identifier: GPL-3.0-or-later
// The filter device's reply layouts and its buffer protocol, apart from any handle, so that
// tests feed hand-built bytes and scripted replies.
#pragma once

#include "flow/psfilter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vb::platform {
class IFilterHandle;
}

namespace vb::flow {

constexpr size_t PathRecordHeadSize = 12;
constexpr size_t PathListEndSize = 12;
constexpr size_t ConnectionHeadSize = 2;
constexpr size_t ConnectionItemSize = 39;
constexpr size_t ListFirstBufferSize = 4096;
constexpr size_t ListMaxBufferSize = 10240; // a doubling past this fails, so 8192 is the top

struct WireConnectionItem
{
    ConnectionDataItem live;
    bool history = false;
};

// One chunk of the process path list. Malformed chunks yield nothing; a record that runs past
// the end stops the walk.
void parsePathListChunk(const uint8_t* data, size_t length,
                        const std::function<void(quint64, const std::wstring&)>& onRecord);
// One chunk of the connection list. A count that does not match the length writes the
// diagnostic line to the wide standard output and yields nothing.
void parseConnectionListChunk(const uint8_t* data, size_t length,
                              const std::function<void(const WireConnectionItem&)>& onItem);

// Reads one list with the first/continued codes, handing every complete chunk to onChunk.
// True when the last call succeeded.
bool readList(vb::platform::IFilterHandle& handle, uint32_t firstCode, uint32_t nextCode,
              const std::function<void(const uint8_t*, size_t)>& onChunk);

// UTF-16 code units of a wide string, with the terminating NUL, as bytes.
std::vector<uint8_t> encodeWidePath(const std::wstring& path);

} // namespace vb::flow

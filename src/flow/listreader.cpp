// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/listreader.h"

#include "platform/filterdevice.h"

#include <iostream>
#include <vector>

namespace vb::flow {

namespace wire = vb::filterwire;

void decodeConnectionChunk(const uint8_t* data, size_t length,
                           const std::function<void(const wire::ConnectionItem&)>& onItem)
{
    size_t count = 0;
    if (wire::decodeConnectionList(data, length, onItem, &count) == wire::ListStatus::CountMismatch)
        std::wcout << L"count: " << count << L" sizeItem: " << wire::ConnectionItemSize
                   << L" sizeHead: " << wire::ConnectionHeadSize << L" len: " << length
                   << std::endl;
}

bool readList(vb::platform::IFilterHandle& handle, uint32_t firstCode, uint32_t nextCode,
              const std::function<void(const uint8_t*, size_t)>& onChunk)
{
    using namespace vb::platform;
    size_t capacity = wire::ListFirstBufferSize;
    std::vector<uint8_t> buffer(capacity);
    const std::vector<uint8_t> noInput;
    size_t returned = 0;
    uint32_t error = handle.control(firstCode, noInput, buffer, capacity, returned);
    // The device is trusted for nothing: never read past what the buffer holds.
    if (error == ErrSuccess) {
        if (returned > capacity)
            return false;
        onChunk(buffer.data(), returned);
        return true;
    }
    // Bounded: each round either grows the buffer (at most once more) or consumes a chunk; a
    // device that keeps answering "more data" with nothing new cannot hold the reader forever.
    for (int round = 0; round < 65536; ++round) {
        if (returned > capacity)
            return false;
        if (error == ErrMoreData) {
            onChunk(buffer.data(), returned);
        } else if (error == ErrInsufficientBuffer) {
            capacity *= 2;
            if (capacity > wire::ListMaxBufferSize)
                return false;
            buffer.assign(capacity, 0);
        } else {
            return false;
        }
        returned = 0;
        error = handle.control(nextCode, noInput, buffer, capacity, returned);
        if (error == ErrSuccess) {
            if (returned > capacity)
                return false;
            onChunk(buffer.data(), returned);
            return true;
        }
    }
    return false;
}

} // namespace vb::flow

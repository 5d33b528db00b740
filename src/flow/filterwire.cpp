// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/filterwire.h"

#include "platform/filterdevice.h"

#include <iostream>
#include <vector>

namespace vb::flow {

namespace {

template <typename T> T readLe(const uint8_t* p)
{
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
    return v;
}

bool allZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// UTF-16 to wchar_t; unpaired surrogates become U+FFFD rather than bad code points.
std::wstring decodeUtf16(const uint8_t* p, size_t units)
{
    std::wstring out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = readLe<uint16_t>(p + 2 * i);
        if (sizeof(wchar_t) >= 4 && u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            uint32_t lo = readLe<uint16_t>(p + 2 * (i + 1));
            if (lo >= 0xDC00 && lo < 0xE000) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (sizeof(wchar_t) >= 4 && u >= 0xD800 && u < 0xE000)
            u = 0xFFFD;
        out.push_back(static_cast<wchar_t>(u));
    }
    return out;
}

} // namespace

void parsePathListChunk(const uint8_t* data, size_t length,
                        const std::function<void(quint64, const std::wstring&)>& onRecord)
{
    if (length < PathListEndSize || !allZero(data + length - PathListEndSize, PathListEndSize))
        return;
    const size_t end = length - PathListEndSize;
    size_t offset = 0;
    while (offset + PathRecordHeadSize < length) {
        const size_t recordLength = readLe<uint32_t>(data + offset);
        if (recordLength == 0 || recordLength > end - offset)
            break;
        // A record shorter than its head would walk backwards into itself; nothing sound
        // follows it.
        if (recordLength < PathRecordHeadSize)
            break;
        const quint64 pid = readLe<uint64_t>(data + offset + 4);
        // The path ends at its NUL or, when that is missing, at the record's end (or, for a
        // record reaching the list end, at the end-of-list bytes, which are zero).
        const uint8_t* text = data + offset + PathRecordHeadSize;
        const size_t maxUnits = (length - offset - PathRecordHeadSize) / 2;
        size_t units = 0;
        while (units < maxUnits && readLe<uint16_t>(text + 2 * units) != 0)
            ++units;
        onRecord(pid, decodeUtf16(text, units));
        offset += recordLength;
    }
}

void parseConnectionListChunk(const uint8_t* data, size_t length,
                              const std::function<void(const WireConnectionItem&)>& onItem)
{
    const size_t minimum = ConnectionHeadSize + ConnectionItemSize;
    if (length < minimum || !allZero(data + length - ConnectionItemSize, ConnectionItemSize))
        return;
    const size_t count = readLe<uint16_t>(data);
    if (length != ConnectionItemSize * count + minimum) {
        std::wcout << L"count: " << count << L" sizeItem: " << ConnectionItemSize << L" sizeHead: "
                   << ConnectionHeadSize << L" len: " << length << std::endl;
        return;
    }
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* p = data + ConnectionHeadSize + ConnectionItemSize * k;
        WireConnectionItem item;
        item.live.processId = readLe<uint64_t>(p);
        item.history = p[8] != 0;
        item.live.identityWord1 = readLe<uint32_t>(p + 9);
        item.live.identityHalf1 = readLe<uint16_t>(p + 13);
        item.live.identityHalf2 = readLe<uint16_t>(p + 15);
        item.live.identityWord2 = readLe<uint32_t>(p + 17);
        item.live.identityHalf3 = readLe<uint16_t>(p + 21);
        item.live.bytesIn = readLe<uint64_t>(p + 23);
        item.live.bytesOut = readLe<uint64_t>(p + 31);
        onItem(item);
    }
}

bool readList(vb::platform::IFilterHandle& handle, uint32_t firstCode, uint32_t nextCode,
              const std::function<void(const uint8_t*, size_t)>& onChunk)
{
    using namespace vb::platform;
    size_t capacity = ListFirstBufferSize;
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
            if (capacity > ListMaxBufferSize)
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

std::vector<uint8_t> encodeWidePath(const std::wstring& path)
{
    std::vector<uint8_t> out;
    out.reserve((path.size() + 1) * 2);
    auto put = [&out](uint32_t unit) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
    };
    for (wchar_t c : path) {
        // A negative wchar_t turns into a value past 0x10FFFF and becomes U+FFFD below.
        uint32_t cp = static_cast<uint32_t>(c); // NOLINT(bugprone-signed-char-misuse)
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp > 0x10FFFF ? 0xFFFD : cp);
        }
    }
    put(0);
    return out;
}

} // namespace vb::flow

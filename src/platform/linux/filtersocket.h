// SPDX-License-Identifier: GPL-3.0-or-later
// Framing of device-control calls over the filter service's Unix sockets, shared by the
// library's transport and the service. One SOCK_SEQPACKET message per request and per reply:
//   request: u32 code, u32 output capacity, u32 input length, input bytes
//   reply:   u32 error, u32 bytes returned, output bytes
//   hello:   u32 error, u32 access mode (sent by the service once it has checked the peer)
// All numbers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vb::filtersocket {

constexpr const char* DefaultDirectory = "/run/pswfp";
constexpr const char* ReadWriteName = "control";
constexpr const char* ReadOnlyName = "readonly";
constexpr size_t RequestHeadSize = 12;
constexpr size_t ReplyHeadSize = 8;
constexpr size_t MaxRequestInput = 65536;
// Replies never carry more than this, whatever capacity a caller claims.
constexpr size_t MaxReplyOutput = 65536;

inline void putU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline uint32_t getU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Request
{
    uint32_t code = 0;
    uint32_t capacity = 0;
    const uint8_t* input = nullptr;
    size_t inputLength = 0;
};

inline std::vector<uint8_t> encodeRequest(uint32_t code, uint32_t capacity, const uint8_t* in,
                                          size_t inLength)
{
    std::vector<uint8_t> out;
    out.reserve(RequestHeadSize + inLength);
    putU32(out, code);
    putU32(out, capacity);
    putU32(out, static_cast<uint32_t>(inLength));
    out.insert(out.end(), in, in + inLength);
    return out;
}

// A message whose head or length does not add up is no request.
inline std::optional<Request> decodeRequest(const uint8_t* msg, size_t length)
{
    if (length < RequestHeadSize)
        return std::nullopt;
    Request r;
    r.code = getU32(msg);
    r.capacity = getU32(msg + 4);
    r.inputLength = getU32(msg + 8);
    if (r.inputLength > MaxRequestInput || r.inputLength != length - RequestHeadSize)
        return std::nullopt;
    r.input = msg + RequestHeadSize;
    return r;
}

inline std::vector<uint8_t> encodeReply(uint32_t error, const uint8_t* out, size_t outLength)
{
    std::vector<uint8_t> msg;
    msg.reserve(ReplyHeadSize + outLength);
    putU32(msg, error);
    putU32(msg, static_cast<uint32_t>(outLength));
    msg.insert(msg.end(), out, out + outLength);
    return msg;
}

} // namespace vb::filtersocket

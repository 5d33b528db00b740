// SPDX-License-Identifier: GPL-3.0-or-later
// Framing of device-control calls over the filter service's Unix sockets. One SOCK_SEQPACKET
// message per request and per reply:
//   request: u32 code, u32 output capacity, u32 input length, input bytes
//   reply:   u32 error, u32 bytes returned, output bytes
//   hello:   u32 error, u32 access mode (sent by the service once it has checked the peer)
// All numbers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vb::filterwire {

constexpr const char* DefaultSocketDirectory = "/run/pswfp";
constexpr const char* ReadWriteSocketName = "control";
constexpr const char* ReadOnlySocketName = "readonly";
constexpr size_t RequestHeadSize = 12;
constexpr size_t ReplyHeadSize = 8;
constexpr size_t HelloSize = 8;
constexpr size_t MaxRequestInput = 65536;
// Replies never carry more than this, whatever capacity a caller claims.
constexpr size_t MaxReplyOutput = 65536;

struct RequestFrame
{
    uint32_t code = 0;
    uint32_t capacity = 0;
    const uint8_t* input = nullptr; // points into the decoded message
    size_t inputLength = 0;
};

struct ReplyFrame
{
    uint32_t error = 0;
    const uint8_t* output = nullptr; // points into the decoded message
    size_t outputLength = 0;
};

struct HelloFrame
{
    uint32_t error = 0;
    uint32_t accessMode = 0;
};

std::vector<uint8_t> encodeRequest(uint32_t code, uint32_t capacity, const uint8_t* in,
                                   size_t inLength);
// A message whose head or length does not add up is no request.
std::optional<RequestFrame> decodeRequest(const uint8_t* msg, size_t length);
std::vector<uint8_t> encodeReply(uint32_t error, const uint8_t* out, size_t outLength);
// A reply whose length field does not match the message is no reply.
std::optional<ReplyFrame> decodeReply(const uint8_t* msg, size_t length);
std::vector<uint8_t> encodeHello(uint32_t error, uint32_t accessMode);
std::optional<HelloFrame> decodeHello(const uint8_t* msg, size_t length);

} // namespace vb::filterwire

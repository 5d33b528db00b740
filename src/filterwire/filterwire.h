// SPDX-License-Identifier: GPL-3.0-or-later
// The filter device's protocol, the one definition both ends use: request codes, error numbers,
// record layouts and the encoders and decoders of every list and request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vb::filterwire {

// quint64's own type, so Qt code compares record fields without casts.
using U64 = unsigned long long;

// Device-control codes.
enum Code : uint32_t {
    CodeProcessPathsFirst = 0x126C06,
    CodeProcessPathsNext = 0x126C02,
    CodeConnectionsFirst = 0x127006,
    CodeConnectionsNext = 0x127002,
    CodeBlock = 0x12A809,
    CodeUnblock = 0x12A80D,
    // Empty the working set of every process of the machine; no input, ReleaseResult out.
    // The service decides alone which processes it pages out: a caller names none.
    CodeReleaseMemory = 0x12AC11,
};

// Windows error numbers, as replies carry them.
enum Error : uint32_t {
    ErrSuccess = 0,
    ErrInvalidFunction = 1,
    ErrFileNotFound = 2,
    ErrAccessDenied = 5,
    ErrInvalidHandle = 6,
    ErrNotEnoughMemory = 8,
    ErrNotSupported = 50,
    ErrInvalidParameter = 87,
    ErrInsufficientBuffer = 122,
    // Another release runs, or the same user asked a moment ago.
    ErrBusy = 170,
    ErrMoreData = 234,
    // The device went away under an open handle.
    ErrDeviceNotConnected = 1167,
    // The authorisation was not given in time.
    ErrTimeout = 1460,
};

constexpr size_t PathRecordHeadSize = 12;
constexpr size_t PathListEndSize = 12;
constexpr size_t ConnectionHeadSize = 2;
constexpr size_t ConnectionItemSize = 39;
// The reader's first buffer; a doubling past the maximum fails, so 8192 is the largest.
constexpr size_t ListFirstBufferSize = 4096;
constexpr size_t ListMaxBufferSize = 10240;
// Longest path record the largest buffer takes together with the end-of-list bytes.
constexpr size_t MaxPathRecordSize = 8192 - PathListEndSize;
// The count is 16 bits.
constexpr size_t MaxItemsPerChunk = 65535;

// One live connection. The five identity fields are copied as they arrive and not interpreted
// by the library.
struct ConnectionDataItem
{
    U64 processId = 0;
    uint32_t identityWord1 = 0;
    uint16_t identityHalf1 = 0;
    uint16_t identityHalf2 = 0;
    uint32_t identityWord2 = 0;
    uint16_t identityHalf3 = 0;
    U64 bytesIn = 0;
    U64 bytesOut = 0;
    bool operator==(const ConnectionDataItem& o) const;
};

// The summed traffic of one process's connections that have closed.
struct ConnectionDataHistoryItem
{
    U64 processId = 0;
    U64 bytesIn = 0;
    U64 bytesOut = 0;
    bool operator==(const ConnectionDataHistoryItem& o) const;
};

// One item of the connection list: a history entry carries no identity (zeros on the wire).
struct ConnectionItem
{
    ConnectionDataItem live;
    bool history = false;
    bool operator==(const ConnectionItem& o) const
    {
        return history == o.history && live == o.live;
    }
};

// One record of the process path list, the path as the file system names it (UTF-8).
struct ProcessPath
{
    U64 pid = 0;
    std::string path;
};

// Encoders. A path record's text is UTF-16 with its NUL; bytes that are no valid UTF-8 become
// U+FFFD.
std::vector<uint8_t> encodePathRecord(U64 pid, const std::string& utf8Path);
void appendPathListEnd(std::vector<uint8_t>& out);
std::vector<uint8_t> encodePathList(const std::vector<ProcessPath>& records);
void appendConnectionItem(std::vector<uint8_t>& out, const ConnectionItem& item);
std::vector<uint8_t> encodeConnectionList(const std::vector<ConnectionItem>& items);
// A block or unblock request's input: UTF-16 code units of the path with the terminating NUL.
std::vector<uint8_t> encodeRequestPath(const std::wstring& path);

// What a memory release by the service did: bytes paged out of the processes it emptied.
struct ReleaseResult
{
    U64 releasedBytes = 0;
    uint32_t processesEmptied = 0;
    uint32_t processesTried = 0;
};
constexpr size_t ReleaseResultSize = 16;
std::vector<uint8_t> encodeReleaseResult(const ReleaseResult& r);
// False unless the bytes are exactly one result.
bool decodeReleaseResult(const uint8_t* data, size_t length, ReleaseResult& out);

// Decoders. Nothing from the device or a peer is trusted: every length is checked.
// One chunk of the process path list. Malformed chunks yield nothing; a record that runs past
// the end, or is shorter than its head, stops the walk. The path ends at its NUL.
void decodePathList(const uint8_t* data, size_t length,
                    const std::function<void(U64 pid, const std::wstring& path)>& onRecord);

enum class ListStatus {
    Ok,
    Malformed,     // too short, or the terminator is not zero
    CountMismatch, // the count does not match the length
};
// One chunk of the connection list; items are reported only when the status is Ok.
ListStatus decodeConnectionList(const uint8_t* data, size_t length,
                                const std::function<void(const ConnectionItem&)>& onItem,
                                size_t* count = nullptr);
// A block request's input: UTF-16 with exactly one NUL, at the end, and no unpaired
// surrogate; the path as UTF-8. Empty on failure.
std::string decodeRequestPath(const uint8_t* data, size_t length);

// A list reply being handed out chunk by chunk, each chunk a well-formed list.
class ChunkedList
{
public:
    enum Kind { Paths, Connections };
    explicit ChunkedList(Kind kind) : m_kind(kind) {}
    // Starts a new list; records are appended with add() and end with the next reset().
    void reset();
    // One encoded record (encodePathRecord, appendConnectionItem).
    void add(const uint8_t* record, size_t length);
    size_t size() const { return m_offsets.size() - 1; }
    bool active() const { return m_active; }
    // Fills out with the next chunk that fits capacity; ErrSuccess (the last chunk),
    // ErrMoreData (more follows) or ErrInsufficientBuffer (nothing fits, nothing consumed).
    uint32_t next(size_t capacity, std::vector<uint8_t>& out);

private:
    Kind m_kind;
    bool m_active = false;
    // All records back to back; record i spans m_offsets[i] to m_offsets[i + 1].
    std::vector<uint8_t> m_data;
    std::vector<size_t> m_offsets{0};
    size_t m_index = 0;
};

} // namespace vb::filterwire

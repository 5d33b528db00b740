// SPDX-License-Identifier: GPL-3.0-or-later
// The device-control protocol as the service answers it: every request is checked before it
// is believed, list replies are cut into chunks that each are a well-formed list, and block
// requests go to the traffic backend only on a read-write session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace filterd {

enum : uint32_t {
    CodeProcessPathsFirst = 0x126C06,
    CodeProcessPathsNext = 0x126C02,
    CodeConnectionsFirst = 0x127006,
    CodeConnectionsNext = 0x127002,
    CodeBlock = 0x12A809,
    CodeUnblock = 0x12A80D,
};

enum : uint32_t {
    ErrSuccess = 0,
    ErrInvalidFunction = 1,
    ErrFileNotFound = 2,
    ErrAccessDenied = 5,
    ErrNotEnoughMemory = 8,
    ErrNotSupported = 50,
    ErrInvalidParameter = 87,
    ErrInsufficientBuffer = 122,
    ErrMoreData = 234,
};

enum class Access { ReadOnly = 1, ReadWrite = 2 };

struct LiveSocket
{
    uint64_t pid = 0;
    uint32_t word1 = 0; // local IPv4 address (IPv6 folded), network order
    uint16_t half1 = 0; // local port
    uint16_t half2 = 0; // remote port
    uint32_t word2 = 0; // remote address
    uint16_t half3 = 0; // IP protocol
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
};

struct HistoryEntry
{
    uint64_t pid = 0;
    uint64_t bytesIn = 0;
    uint64_t bytesOut = 0;
};

struct ProcessPath
{
    uint64_t pid = 0;
    std::string path; // UTF-8, as the file system names it
};

// What measures and blocks; the session only frames its answers.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual bool connections(std::vector<LiveSocket>& live, std::vector<HistoryEntry>& history) = 0;
    virtual void processPaths(std::vector<ProcessPath>& out) = 0;
    // An absolute path; returns an error number.
    virtual uint32_t block(const std::string& path) = 0;
    virtual uint32_t unblock(const std::string& path) = 0;
};

// The byte forms of single records.
std::vector<uint8_t> encodePathRecord(uint64_t pid, const std::string& utf8Path);
void appendConnectionItem(std::vector<uint8_t>& out, const LiveSocket& s, bool history);
// Decodes a block request's input: UTF-16 with exactly one NUL, at the end. Empty on failure.
std::string decodeRequestPath(const uint8_t* data, size_t length);

// A list reply being handed out chunk by chunk.
class PendingList
{
public:
    enum Kind { Paths, Connections };
    explicit PendingList(Kind kind) : m_kind(kind) {}
    // Starts a new list; records are appended with add() and end with the next reset().
    void reset();
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

struct Reply
{
    uint32_t error = ErrSuccess;
    std::vector<uint8_t> bytes;
};

class Session
{
public:
    Session(Backend& backend, Access access) : m_backend(backend), m_access(access) {}
    Reply handle(uint32_t code, const uint8_t* input, size_t inputLength, size_t capacity);
    Access access() const { return m_access; }

private:
    Backend& m_backend;
    Access m_access;
    PendingList m_paths{PendingList::Paths};
    PendingList m_connections{PendingList::Connections};
};

// Longest path record the library's largest buffer takes with the end-of-list bytes.
constexpr size_t MaxPathRecordSize = 8192 - 12;

} // namespace filterd

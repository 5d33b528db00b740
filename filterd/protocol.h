// SPDX-License-Identifier: GPL-3.0-or-later
// The device-control protocol as the service answers it: every request is checked before it
// is believed, list replies are cut into chunks that each are a well-formed list, and block
// requests go to the traffic backend only on a read-write session.
#pragma once

#include "filterwire/filterwire.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace filterd {

// The protocol's own names (codes, error numbers, records) for the service's code.
using namespace vb::filterwire;

enum class Access { ReadOnly = 1, ReadWrite = 2 };

// What measures and blocks; the session only frames its answers.
class Backend
{
public:
    virtual ~Backend() = default;
    virtual bool connections(std::vector<ConnectionDataItem>& live,
                             std::vector<ConnectionDataHistoryItem>& history) = 0;
    virtual void processPaths(std::vector<ProcessPath>& out) = 0;
    // An absolute path; returns an error number.
    virtual uint32_t block(const std::string& path) = 0;
    virtual uint32_t unblock(const std::string& path) = 0;
    // The path as the caller sees it from its root directory (callerRoot, an O_PATH
    // descriptor; -1: the service's own), which a mount namespace (mountNs, its inode) may make
    // another file.
    virtual uint32_t blockAs(int callerRoot, uint64_t mountNs, const std::string& path)
    {
        (void)callerRoot;
        (void)mountNs;
        return block(path);
    }
    // The owner of a process that has exited, as remembered while it ran; false when unknown.
    virtual bool ownerOfGone(U64 pid, uint32_t& uid)
    {
        (void)pid;
        (void)uid;
        return false;
    }
};

struct Reply
{
    uint32_t error = ErrSuccess;
    std::vector<uint8_t> bytes;
};

// Which processes a session may see; empty means all of them.
using Visibility = std::function<bool(U64 pid)>;

// A list a session holds for its reader never grows past this; the service's memory is then
// bounded by its session budget.
constexpr size_t MaxSessionListBytes = size_t(2) * 1024 * 1024;

class Session
{
public:
    Session(Backend& backend, Access access, Visibility visible = {})
        : m_backend(backend), m_access(access), m_visible(std::move(visible))
    {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // The caller's root directory for the paths it names, and its mount namespace; the session
    // owns the descriptor.
    void setCallerRoot(int fd, uint64_t mountNs);
    Reply handle(uint32_t code, const uint8_t* input, size_t inputLength, size_t capacity);
    Access access() const { return m_access; }
    // Whether handling this code builds a list anew (the costly part of a request).
    bool rebuilds(uint32_t code) const;

private:
    bool visible(U64 pid);
    Backend& m_backend;
    Access m_access;
    Visibility m_visible;
    // One answer per process while a list is built.
    std::vector<std::pair<U64, bool>> m_seen;
    int m_callerRoot = -1;
    uint64_t m_callerMountNs = 0;
    ChunkedList m_paths{ChunkedList::Paths};
    ChunkedList m_connections{ChunkedList::Connections};
};

} // namespace filterd

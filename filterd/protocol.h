// SPDX-License-Identifier: GPL-3.0-or-later
// The device-control protocol as the service answers it: every request is checked before it
// is believed, list replies are cut into chunks that each are a well-formed list, and block
// requests go to the traffic backend only on a read-write session.
#pragma once

#include "filterwire/filterwire.h"

#include <cstddef>
#include <cstdint>
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
    // descriptor; -1: the service's own), which a mount namespace may make another file.
    virtual uint32_t blockAs(int callerRoot, const std::string& path)
    {
        (void)callerRoot;
        return block(path);
    }
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
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    // The caller's root directory for the paths it names; the session owns the descriptor.
    void setCallerRoot(int fd);
    Reply handle(uint32_t code, const uint8_t* input, size_t inputLength, size_t capacity);
    Access access() const { return m_access; }

private:
    Backend& m_backend;
    Access m_access;
    int m_callerRoot = -1;
    ChunkedList m_paths{ChunkedList::Paths};
    ChunkedList m_connections{ChunkedList::Connections};
};

} // namespace filterd

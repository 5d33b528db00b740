// SPDX-License-Identifier: GPL-3.0-or-later
// A traffic backend of fixed tables, and a filter handle that hands calls straight to a
// service session, so the service's replies meet the library's reader without a socket.
#pragma once

#include "platform/filterdevice.h"
#include "protocol.h"

#include <memory>

class TableBackend : public filterd::Backend
{
public:
    std::vector<filterd::ConnectionDataItem> live;
    std::vector<filterd::ConnectionDataHistoryItem> history;
    std::vector<filterd::ProcessPath> paths;
    std::vector<std::string> blockCalls;
    int connectionReads = 0;

    bool connections(std::vector<filterd::ConnectionDataItem>& l,
                     std::vector<filterd::ConnectionDataHistoryItem>& h) override
    {
        ++connectionReads;
        l = live;
        h = history;
        return true;
    }
    void processPaths(std::vector<filterd::ProcessPath>& out) override { out = paths; }
    uint32_t block(const std::string& path) override
    {
        blockCalls.push_back("block " + path);
        return 0;
    }
    uint32_t unblock(const std::string& path) override
    {
        blockCalls.push_back("unblock " + path);
        return 0;
    }
};

struct SessionCall
{
    uint32_t code;
    size_t capacity;
    uint32_t error;
    std::vector<uint8_t> reply;
};

class SessionHandle : public vb::platform::IFilterHandle
{
public:
    SessionHandle(filterd::Session& s, std::vector<SessionCall>& log) : m_session(s), m_log(log) {}
    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t capacity, size_t& returned) override
    {
        filterd::Reply r = m_session.handle(code, in.data(), in.size(), capacity);
        m_log.push_back({code, capacity, r.error, r.bytes});
        if (out.size() < r.bytes.size())
            out.resize(r.bytes.size());
        std::copy(r.bytes.begin(), r.bytes.end(), out.begin());
        returned = r.bytes.size();
        return r.error;
    }

private:
    filterd::Session& m_session;
    std::vector<SessionCall>& m_log;
};

class SessionDevice : public vb::platform::IFilterDevice
{
public:
    SessionDevice(filterd::Session& s, std::vector<SessionCall>& log) : m_session(s), m_log(log) {}
    std::unique_ptr<vb::platform::IFilterHandle> open(bool writable, uint32_t& error) override
    {
        const bool rw = m_session.access() == filterd::Access::ReadWrite;
        if (writable && !rw) {
            error = filterd::ErrAccessDenied;
            return nullptr;
        }
        error = filterd::ErrSuccess;
        return std::make_unique<SessionHandle>(m_session, m_log);
    }
    bool caseSensitivePaths() const override { return true; }

private:
    filterd::Session& m_session;
    std::vector<SessionCall>& m_log;
};

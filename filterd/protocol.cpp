// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <algorithm>
#include <unistd.h>

namespace filterd {

namespace {

// Hands out the next chunk; once the reader has the last one, the list's memory goes back.
uint32_t nextChunk(ChunkedList& list, ChunkedList::Kind kind, size_t capacity,
                   std::vector<uint8_t>& out)
{
    const uint32_t error = list.next(capacity, out);
    if (error == ErrSuccess)
        list = ChunkedList(kind);
    return error;
}

} // namespace

bool Session::rebuilds(uint32_t code) const
{
    switch (code) {
    case CodeProcessPathsFirst:
    case CodeConnectionsFirst:
        return true;
    case CodeProcessPathsNext:
        return !m_paths.active();
    case CodeConnectionsNext:
        return !m_connections.active();
    default:
        return false;
    }
}

bool Session::visible(U64 pid)
{
    if (!m_visible)
        return true;
    auto it = std::lower_bound(m_seen.begin(), m_seen.end(), std::make_pair(pid, false));
    if (it != m_seen.end() && it->first == pid)
        return it->second;
    const bool yes = m_visible(pid);
    m_seen.insert(it, {pid, yes});
    return yes;
}

Reply Session::handle(uint32_t code, const uint8_t* input, size_t inputLength, size_t capacity)
{
    Reply reply;
    switch (code) {
    case CodeProcessPathsFirst:
    case CodeProcessPathsNext:
        // A continued read with nothing pending starts over, so a confused caller still gets
        // a consistent list.
        if (rebuilds(code)) {
            std::vector<ProcessPath> paths;
            m_backend.processPaths(paths);
            m_paths.reset();
            m_seen.clear();
            size_t bytes = 0;
            for (const ProcessPath& p : paths) {
                if (!visible(p.pid))
                    continue;
                const auto rec = encodePathRecord(p.pid, p.path);
                if (rec.size() > MaxPathRecordSize || bytes + rec.size() > MaxSessionListBytes)
                    continue;
                bytes += rec.size();
                m_paths.add(rec.data(), rec.size());
            }
            m_seen.clear();
        }
        reply.error = nextChunk(m_paths, ChunkedList::Paths, capacity, reply.bytes);
        return reply;
    case CodeConnectionsFirst:
    case CodeConnectionsNext:
        if (rebuilds(code)) {
            std::vector<ConnectionDataItem> live;
            std::vector<ConnectionDataHistoryItem> history;
            if (!m_backend.connections(live, history)) {
                reply.error = ErrNotSupported;
                return reply;
            }
            m_connections.reset();
            m_seen.clear();
            constexpr size_t MaxItems = MaxSessionListBytes / ConnectionItemSize;
            size_t items = 0;
            std::vector<uint8_t> item;
            item.reserve(ConnectionItemSize);
            auto add = [&](const ConnectionItem& entry) {
                if (items >= MaxItems || !visible(entry.live.processId))
                    return;
                item.clear();
                appendConnectionItem(item, entry);
                m_connections.add(item.data(), item.size());
                ++items;
            };
            for (const ConnectionDataItem& s : live)
                add(ConnectionItem{s, false});
            for (const ConnectionDataHistoryItem& h : history) {
                ConnectionItem entry;
                entry.live.processId = h.processId;
                entry.live.bytesIn = h.bytesIn;
                entry.live.bytesOut = h.bytesOut;
                entry.history = true;
                add(entry);
            }
            m_seen.clear();
        }
        reply.error = nextChunk(m_connections, ChunkedList::Connections, capacity, reply.bytes);
        return reply;
    case CodeBlock:
    case CodeUnblock: {
        if (m_access != Access::ReadWrite) {
            reply.error = ErrAccessDenied;
            return reply;
        }
        const std::string path = decodeRequestPath(input, inputLength);
        if (path.empty() || path[0] != '/') {
            reply.error = ErrInvalidParameter;
            return reply;
        }
        reply.error = code == CodeBlock ? m_backend.blockAs(m_callerRoot, m_callerMountNs, path)
                                        : m_backend.unblock(path);
        return reply;
    }
    default:
        reply.error = ErrInvalidFunction;
        return reply;
    }
}

Session::~Session()
{
    if (m_callerRoot >= 0)
        close(m_callerRoot);
}

void Session::setCallerRoot(int fd, uint64_t mountNs)
{
    if (m_callerRoot >= 0)
        close(m_callerRoot);
    m_callerRoot = fd;
    m_callerMountNs = fd >= 0 ? mountNs : 0;
}

} // namespace filterd

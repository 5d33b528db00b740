// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <unistd.h>

namespace filterd {

Reply Session::handle(uint32_t code, const uint8_t* input, size_t inputLength, size_t capacity)
{
    Reply reply;
    switch (code) {
    case CodeProcessPathsFirst:
    case CodeProcessPathsNext:
        // A continued read with nothing pending starts over, so a confused caller still gets
        // a consistent list.
        if (code == CodeProcessPathsFirst || !m_paths.active()) {
            std::vector<ProcessPath> paths;
            m_backend.processPaths(paths);
            m_paths.reset();
            for (const ProcessPath& p : paths) {
                const auto rec = encodePathRecord(p.pid, p.path);
                if (rec.size() <= MaxPathRecordSize)
                    m_paths.add(rec.data(), rec.size());
            }
        }
        reply.error = m_paths.next(capacity, reply.bytes);
        return reply;
    case CodeConnectionsFirst:
    case CodeConnectionsNext:
        if (code == CodeConnectionsFirst || !m_connections.active()) {
            std::vector<ConnectionDataItem> live;
            std::vector<ConnectionDataHistoryItem> history;
            if (!m_backend.connections(live, history)) {
                reply.error = ErrNotSupported;
                return reply;
            }
            m_connections.reset();
            std::vector<uint8_t> item;
            item.reserve(ConnectionItemSize);
            for (const ConnectionDataItem& s : live) {
                item.clear();
                appendConnectionItem(item, ConnectionItem{s, false});
                m_connections.add(item.data(), item.size());
            }
            for (const ConnectionDataHistoryItem& h : history) {
                ConnectionItem entry;
                entry.live.processId = h.processId;
                entry.live.bytesIn = h.bytesIn;
                entry.live.bytesOut = h.bytesOut;
                entry.history = true;
                item.clear();
                appendConnectionItem(item, entry);
                m_connections.add(item.data(), item.size());
            }
        }
        reply.error = m_connections.next(capacity, reply.bytes);
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
        reply.error =
            code == CodeBlock ? m_backend.blockAs(m_callerRoot, path) : m_backend.unblock(path);
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

void Session::setCallerRoot(int fd)
{
    if (m_callerRoot >= 0)
        close(m_callerRoot);
    m_callerRoot = fd;
}

} // namespace filterd

// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <algorithm>

namespace filterd {

namespace {

constexpr size_t PathEnd = 12;
constexpr size_t ConnHead = 2;
constexpr size_t ConnItem = 39;
constexpr size_t MaxItemsPerChunk = 65535; // the count is 16 bits

template <typename T> void putLe(std::vector<uint8_t>& out, T v)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

void putUtf16(std::vector<uint8_t>& out, uint32_t unit)
{
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

// UTF-8 to UTF-16; bytes that are no valid UTF-8 become U+FFFD.
void appendUtf16(std::vector<uint8_t>& out, const std::string& s)
{
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t n = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4;
        }
        if (n > 1) {
            bool ok = i + n <= s.size();
            uint32_t v = b & (0x7F >> n);
            for (size_t k = 1; ok && k < n; ++k) {
                const auto c = static_cast<unsigned char>(s[i + k]);
                ok = (c & 0xC0) == 0x80;
                v = (v << 6) | (c & 0x3F);
            }
            static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= minimum[n] && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000))
                cp = v;
            else
                n = 1;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            putUtf16(out, 0xD800 + (cp >> 10));
            putUtf16(out, 0xDC00 + (cp & 0x3FF));
        } else {
            putUtf16(out, cp);
        }
    }
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::vector<uint8_t> encodePathRecord(uint64_t pid, const std::string& utf8Path)
{
    std::vector<uint8_t> rec(12, 0);
    appendUtf16(rec, utf8Path);
    putUtf16(rec, 0);
    const auto length = static_cast<uint32_t>(rec.size());
    for (int i = 0; i < 4; ++i)
        rec[i] = static_cast<uint8_t>(length >> (8 * i));
    for (int i = 0; i < 8; ++i)
        rec[4 + i] = static_cast<uint8_t>(pid >> (8 * i));
    return rec;
}

void appendConnectionItem(std::vector<uint8_t>& out, const LiveSocket& s, bool history)
{
    putLe<uint64_t>(out, s.pid);
    putLe<uint8_t>(out, history ? 1 : 0);
    // History entries carry no identity.
    putLe<uint32_t>(out, history ? 0 : s.word1);
    putLe<uint16_t>(out, history ? 0 : s.half1);
    putLe<uint16_t>(out, history ? 0 : s.half2);
    putLe<uint32_t>(out, history ? 0 : s.word2);
    putLe<uint16_t>(out, history ? 0 : s.half3);
    putLe<uint64_t>(out, s.bytesIn);
    putLe<uint64_t>(out, s.bytesOut);
}

std::string decodeRequestPath(const uint8_t* data, size_t length)
{
    if (!data || length < 4 || length % 2 != 0)
        return std::string();
    const size_t units = length / 2;
    auto unit = [data](size_t i) {
        return static_cast<uint32_t>(data[2 * i]) | (static_cast<uint32_t>(data[2 * i + 1]) << 8);
    };
    if (unit(units - 1) != 0)
        return std::string();
    std::string out;
    for (size_t i = 0; i + 1 < units; ++i) {
        uint32_t u = unit(i);
        if (u == 0)
            return std::string(); // a NUL inside would let the file system see a shorter path
        if (u >= 0xD800 && u < 0xDC00 && i + 2 < units) {
            const uint32_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo < 0xE000) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u < 0xE000)
            return std::string(); // an unpaired surrogate names no file
        appendUtf8(out, u);
    }
    return out;
}

void PendingList::reset()
{
    m_data.clear();
    m_offsets.assign(1, 0);
    m_index = 0;
    m_active = true;
}

void PendingList::add(const uint8_t* record, size_t length)
{
    m_data.insert(m_data.end(), record, record + length);
    m_offsets.push_back(m_data.size());
}

uint32_t PendingList::next(size_t capacity, std::vector<uint8_t>& out)
{
    out.clear();
    const size_t tail = m_kind == Paths ? PathEnd : ConnHead + ConnItem;
    if (capacity < tail)
        return ErrInsufficientBuffer;
    const size_t count = size();
    size_t end = m_index;
    const size_t start = m_offsets[m_index];
    while (end < count && m_offsets[end + 1] - start + tail <= capacity &&
           (m_kind == Paths || end - m_index < MaxItemsPerChunk))
        ++end;
    if (end == m_index && m_index < count)
        return ErrInsufficientBuffer;
    const size_t body = m_offsets[end] - start;
    out.reserve(body + tail);
    if (m_kind == Connections)
        putLe<uint16_t>(out, static_cast<uint16_t>(end - m_index));
    out.insert(out.end(), m_data.begin() + static_cast<std::ptrdiff_t>(start),
               m_data.begin() + static_cast<std::ptrdiff_t>(m_offsets[end]));
    out.insert(out.end(), m_kind == Paths ? PathEnd : ConnItem, 0);
    m_index = end;
    if (m_index < count)
        return ErrMoreData;
    m_active = false;
    m_data.clear();
    m_offsets.assign(1, 0);
    return ErrSuccess;
}

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
            std::vector<LiveSocket> live;
            std::vector<HistoryEntry> history;
            if (!m_backend.connections(live, history)) {
                reply.error = ErrNotSupported;
                return reply;
            }
            m_connections.reset();
            std::vector<uint8_t> item;
            item.reserve(ConnItem);
            for (const LiveSocket& s : live) {
                item.clear();
                appendConnectionItem(item, s, false);
                m_connections.add(item.data(), item.size());
            }
            for (const HistoryEntry& h : history) {
                LiveSocket s;
                s.pid = h.pid;
                s.bytesIn = h.bytesIn;
                s.bytesOut = h.bytesOut;
                item.clear();
                appendConnectionItem(item, s, true);
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
        reply.error = code == CodeBlock ? m_backend.block(path) : m_backend.unblock(path);
        return reply;
    }
    default:
        reply.error = ErrInvalidFunction;
        return reply;
    }
}

} // namespace filterd

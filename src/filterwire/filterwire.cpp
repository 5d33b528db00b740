// SPDX-License-Identifier: GPL-3.0-or-later
#include "filterwire/filterwire.h"
#include "filterwire/framing.h"

namespace vb::filterwire {

namespace {

template <typename T> T readLe(const uint8_t* p)
{
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
    return v;
}

template <typename T> void putLe(std::vector<uint8_t>& out, T v)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

bool allZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return false;
    return true;
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

// UTF-16 to wchar_t; unpaired surrogates become U+FFFD rather than bad code points.
std::wstring decodeUtf16(const uint8_t* p, size_t units)
{
    std::wstring out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = readLe<uint16_t>(p + 2 * i);
        if (sizeof(wchar_t) >= 4 && u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            uint32_t lo = readLe<uint16_t>(p + 2 * (i + 1));
            if (lo >= 0xDC00 && lo < 0xE000) {
                out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00)));
                ++i;
                continue;
            }
        }
        if (sizeof(wchar_t) >= 4 && u >= 0xD800 && u < 0xE000)
            u = 0xFFFD;
        out.push_back(static_cast<wchar_t>(u));
    }
    return out;
}

} // namespace

bool ConnectionDataItem::operator==(const ConnectionDataItem& o) const
{
    return processId == o.processId && identityWord1 == o.identityWord1 &&
           identityHalf1 == o.identityHalf1 && identityHalf2 == o.identityHalf2 &&
           identityWord2 == o.identityWord2 && identityHalf3 == o.identityHalf3 &&
           bytesIn == o.bytesIn && bytesOut == o.bytesOut;
}

bool ConnectionDataHistoryItem::operator==(const ConnectionDataHistoryItem& o) const
{
    return processId == o.processId && bytesIn == o.bytesIn && bytesOut == o.bytesOut;
}

std::vector<uint8_t> encodePathRecord(U64 pid, const std::string& utf8Path)
{
    std::vector<uint8_t> rec(PathRecordHeadSize, 0);
    appendUtf16(rec, utf8Path);
    putUtf16(rec, 0);
    const auto length = static_cast<uint32_t>(rec.size());
    for (int i = 0; i < 4; ++i)
        rec[i] = static_cast<uint8_t>(length >> (8 * i));
    for (int i = 0; i < 8; ++i)
        rec[4 + i] = static_cast<uint8_t>(pid >> (8 * i));
    return rec;
}

void appendPathListEnd(std::vector<uint8_t>& out)
{
    out.insert(out.end(), PathListEndSize, 0);
}

std::vector<uint8_t> encodePathList(const std::vector<ProcessPath>& records)
{
    std::vector<uint8_t> out;
    for (const ProcessPath& r : records) {
        const auto rec = encodePathRecord(r.pid, r.path);
        out.insert(out.end(), rec.begin(), rec.end());
    }
    appendPathListEnd(out);
    return out;
}

void appendConnectionItem(std::vector<uint8_t>& out, const ConnectionItem& item)
{
    const ConnectionDataItem& s = item.live;
    const bool history = item.history;
    putLe<uint64_t>(out, s.processId);
    putLe<uint8_t>(out, history ? 1 : 0);
    // History entries carry no identity.
    putLe<uint32_t>(out, history ? 0 : s.identityWord1);
    putLe<uint16_t>(out, history ? 0 : s.identityHalf1);
    putLe<uint16_t>(out, history ? 0 : s.identityHalf2);
    putLe<uint32_t>(out, history ? 0 : s.identityWord2);
    putLe<uint16_t>(out, history ? 0 : s.identityHalf3);
    putLe<uint64_t>(out, s.bytesIn);
    putLe<uint64_t>(out, s.bytesOut);
}

std::vector<uint8_t> encodeConnectionList(const std::vector<ConnectionItem>& items)
{
    std::vector<uint8_t> out;
    out.reserve(ConnectionHeadSize + ConnectionItemSize * (items.size() + 1));
    // A caller with more items than the count holds must chunk them (ChunkedList).
    putLe<uint16_t>(out, static_cast<uint16_t>(items.size()));
    for (const ConnectionItem& i : items)
        appendConnectionItem(out, i);
    out.insert(out.end(), ConnectionItemSize, 0);
    return out;
}

std::vector<uint8_t> encodeRequestPath(const std::wstring& path)
{
    std::vector<uint8_t> out;
    out.reserve((path.size() + 1) * 2);
    auto put = [&out](uint32_t unit) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
    };
    for (wchar_t c : path) {
        // A negative wchar_t turns into a value past 0x10FFFF and becomes U+FFFD below.
        uint32_t cp = static_cast<uint32_t>(c); // NOLINT(bugprone-signed-char-misuse)
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp > 0x10FFFF ? 0xFFFD : cp);
        }
    }
    put(0);
    return out;
}

void decodePathList(const uint8_t* data, size_t length,
                    const std::function<void(U64, const std::wstring&)>& onRecord)
{
    if (length < PathListEndSize || !allZero(data + length - PathListEndSize, PathListEndSize))
        return;
    const size_t end = length - PathListEndSize;
    size_t offset = 0;
    while (offset + PathRecordHeadSize < length) {
        const size_t recordLength = readLe<uint32_t>(data + offset);
        if (recordLength == 0 || recordLength > end - offset)
            break;
        // A record shorter than its head would walk backwards into itself; nothing sound
        // follows it.
        if (recordLength < PathRecordHeadSize)
            break;
        const U64 pid = readLe<uint64_t>(data + offset + 4);
        // The path ends at its NUL or, when that is missing, at the record's end: a path never
        // takes its text from the records after it.
        const uint8_t* text = data + offset + PathRecordHeadSize;
        const size_t maxUnits = (recordLength - PathRecordHeadSize) / 2;
        size_t units = 0;
        while (units < maxUnits && readLe<uint16_t>(text + 2 * units) != 0)
            ++units;
        onRecord(pid, decodeUtf16(text, units));
        offset += recordLength;
    }
}

ListStatus decodeConnectionList(const uint8_t* data, size_t length,
                                const std::function<void(const ConnectionItem&)>& onItem,
                                size_t* countOut)
{
    const size_t minimum = ConnectionHeadSize + ConnectionItemSize;
    if (length < minimum || !allZero(data + length - ConnectionItemSize, ConnectionItemSize))
        return ListStatus::Malformed;
    const size_t count = readLe<uint16_t>(data);
    if (countOut)
        *countOut = count;
    if (length != ConnectionItemSize * count + minimum)
        return ListStatus::CountMismatch;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* p = data + ConnectionHeadSize + ConnectionItemSize * k;
        ConnectionItem item;
        item.live.processId = readLe<uint64_t>(p);
        item.history = p[8] != 0;
        item.live.identityWord1 = readLe<uint32_t>(p + 9);
        item.live.identityHalf1 = readLe<uint16_t>(p + 13);
        item.live.identityHalf2 = readLe<uint16_t>(p + 15);
        item.live.identityWord2 = readLe<uint32_t>(p + 17);
        item.live.identityHalf3 = readLe<uint16_t>(p + 21);
        item.live.bytesIn = readLe<uint64_t>(p + 23);
        item.live.bytesOut = readLe<uint64_t>(p + 31);
        onItem(item);
    }
    return ListStatus::Ok;
}

std::vector<uint8_t> encodeReleaseResult(const ReleaseResult& r)
{
    std::vector<uint8_t> out;
    putLe<U64>(out, r.releasedBytes);
    putLe<uint32_t>(out, r.processesEmptied);
    putLe<uint32_t>(out, r.processesTried);
    return out;
}

bool decodeReleaseResult(const uint8_t* data, size_t length, ReleaseResult& out)
{
    out = ReleaseResult{};
    if (!data || length != ReleaseResultSize)
        return false;
    out.releasedBytes = readLe<U64>(data);
    out.processesEmptied = readLe<uint32_t>(data + 8);
    out.processesTried = readLe<uint32_t>(data + 12);
    return out.processesEmptied <= out.processesTried;
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

void ChunkedList::reset()
{
    m_data.clear();
    m_offsets.assign(1, 0);
    m_index = 0;
    m_active = true;
}

void ChunkedList::add(const uint8_t* record, size_t length)
{
    m_data.insert(m_data.end(), record, record + length);
    m_offsets.push_back(m_data.size());
}

uint32_t ChunkedList::next(size_t capacity, std::vector<uint8_t>& out)
{
    out.clear();
    const size_t tail = m_kind == Paths ? PathListEndSize : ConnectionHeadSize + ConnectionItemSize;
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
    out.insert(out.end(), m_kind == Paths ? PathListEndSize : ConnectionItemSize, 0);
    m_index = end;
    if (m_index < count)
        return ErrMoreData;
    m_active = false;
    m_data.clear();
    m_offsets.assign(1, 0);
    return ErrSuccess;
}

std::vector<uint8_t> encodeRequest(uint32_t code, uint32_t capacity, const uint8_t* in,
                                   size_t inLength)
{
    std::vector<uint8_t> out;
    out.reserve(RequestHeadSize + inLength);
    putLe<uint32_t>(out, code);
    putLe<uint32_t>(out, capacity);
    putLe<uint32_t>(out, static_cast<uint32_t>(inLength));
    if (inLength > 0)
        out.insert(out.end(), in, in + inLength);
    return out;
}

std::optional<RequestFrame> decodeRequest(const uint8_t* msg, size_t length)
{
    if (!msg || length < RequestHeadSize)
        return std::nullopt;
    RequestFrame r;
    r.code = readLe<uint32_t>(msg);
    r.capacity = readLe<uint32_t>(msg + 4);
    r.inputLength = readLe<uint32_t>(msg + 8);
    if (r.inputLength > MaxRequestInput || r.inputLength != length - RequestHeadSize)
        return std::nullopt;
    r.input = msg + RequestHeadSize;
    return r;
}

std::vector<uint8_t> encodeReply(uint32_t error, const uint8_t* out, size_t outLength)
{
    std::vector<uint8_t> msg;
    msg.reserve(ReplyHeadSize + outLength);
    putLe<uint32_t>(msg, error);
    putLe<uint32_t>(msg, static_cast<uint32_t>(outLength));
    if (outLength > 0)
        msg.insert(msg.end(), out, out + outLength);
    return msg;
}

std::optional<ReplyFrame> decodeReply(const uint8_t* msg, size_t length)
{
    if (!msg || length < ReplyHeadSize)
        return std::nullopt;
    ReplyFrame r;
    r.error = readLe<uint32_t>(msg);
    r.outputLength = readLe<uint32_t>(msg + 4);
    if (r.outputLength > MaxReplyOutput || r.outputLength != length - ReplyHeadSize)
        return std::nullopt;
    r.output = msg + ReplyHeadSize;
    return r;
}

std::vector<uint8_t> encodeHello(uint32_t error, uint32_t accessMode)
{
    std::vector<uint8_t> msg;
    msg.reserve(HelloSize);
    putLe<uint32_t>(msg, error);
    putLe<uint32_t>(msg, accessMode);
    return msg;
}

std::optional<HelloFrame> decodeHello(const uint8_t* msg, size_t length)
{
    if (!msg || length != HelloSize)
        return std::nullopt;
    return HelloFrame{readLe<uint32_t>(msg), readLe<uint32_t>(msg + 4)};
}

} // namespace vb::filterwire

// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the kernel's text files under /proc and /sys.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>

namespace vb::platform::linux_ {

// Everything from the start of an open file, with plain calls; nothing when a read fails
// part-way (a process that ends while it is read), rather than a truncated text. onePiece: the
// file is written by the kernel in one piece (meminfo, stat, loadavg) or is a regular file, so
// a read that does not fill the buffer has reached the end, and no further call is needed to
// learn so. Not for files of many records (maps, net/tcp), whose reads stop at a record.
inline std::optional<std::string> readFromStart(int fd, bool onePiece = false)
{
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return out;
        out.append(buf, static_cast<size_t>(n));
        if (onePiece && static_cast<size_t>(n) < sizeof buf)
            return out;
    }
}

// The whole file; nothing when it cannot be opened or read.
inline std::optional<std::string> readWholeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> text = readFromStart(fd);
    ::close(fd);
    return text;
}

// A kernel file read every second, kept open and read again from its start: the kernel writes
// it anew for each read from offset 0, and one call replaces opening, reading and closing. Only
// for files written in one piece (see readFromStart).
// Shared by threads: whole readings never interleave.
class HeldKernelFile
{
public:
    explicit HeldKernelFile(std::string path) : m_path(std::move(path)) {}
    ~HeldKernelFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HeldKernelFile(const HeldKernelFile&) = delete;
    HeldKernelFile& operator=(const HeldKernelFile&) = delete;

    // The whole file; nothing when it cannot be opened or a read fails (then it is opened
    // again next time).
    std::optional<std::string> read()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fd < 0)
            m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return std::nullopt;
        std::optional<std::string> text = readFromStart(m_fd, true);
        if (!text) {
            ::close(m_fd);
            m_fd = -1;
        }
        return text;
    }

private:
    std::string m_path;
    std::mutex m_mutex;
    int m_fd = -1;
};

// The unsigned decimal at the start of a kernel file's value ("  1234 kB", "5678\n"): nothing for
// a value that does not start with a digit or does not fit, rather than a made-up 0.
inline std::optional<uint64_t> leadingNumber(const char* p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p < '0' || *p > '9')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(p, &end, 10);
    if (errno == ERANGE)
        return std::nullopt;
    return static_cast<uint64_t>(v);
}

// A decimal field of a kernel text file, [begin, end); false for anything else (signs,
// spaces, an empty field or one that does not fit).
inline bool decimalField(const char* begin, const char* end, uint64_t& out)
{
    if (begin == end)
        return false;
    uint64_t v = 0;
    for (const char* p = begin; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    out = v;
    return true;
}

} // namespace vb::platform::linux_

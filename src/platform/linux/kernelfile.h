// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the kernel's text files under /proc and /sys.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace vb::platform::linux_ {

// The whole file; nothing when it cannot be opened or a read fails part-way (a process that
// ends while it is read), rather than a truncated text.
inline std::optional<std::string> readWholeFile(const std::string& path)
{
    std::ifstream f(path);
    if (!f)
        return std::nullopt;
    std::stringstream ss;
    ss << f.rdbuf();
    if (f.bad())
        return std::nullopt;
    return ss.str();
}

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

} // namespace vb::platform::linux_

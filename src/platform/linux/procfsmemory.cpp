// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/procfsmemory.h"
#include "platform/linux/kernelfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <sstream>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace vb::platform::linux_ {

namespace {

// "Key:   1234 kB" lines; nullopt when the key is absent or its number is not one. Read every
// second, so it looks at the text in place rather than copying lines out of it.
std::optional<uint64_t> meminfoKb(const std::string& text, std::string_view key)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = text.size();
        const std::string_view line(text.data() + pos, eol - pos);
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
            line[key.size()] == ':') {
            // The number ends before the line does; the text ends in a NUL.
            const auto v = leadingNumber(line.data() + key.size() + 1);
            // Callers scale kB to bytes.
            if (!v || *v > std::numeric_limits<uint64_t>::max() / 1024)
                return std::nullopt;
            return v;
        }
        pos = eol + 1;
    }
    return std::nullopt;
}

} // namespace

ProcfsMemory::ProcfsMemory(std::string procRoot) : m_root(std::move(procRoot))
{
    if (m_root == "/proc") {
        m_meminfo = std::make_unique<HeldKernelFile>(m_root + "/meminfo");
        m_stat = std::make_unique<HeldKernelFile>(m_root + "/stat");
    }
}

std::optional<std::string> ProcfsMemory::readFile(const std::unique_ptr<HeldKernelFile>& held,
                                                  const char* name) const
{
    return held ? held->read() : readWholeFile(m_root + name);
}

bool ProcfsMemory::parseMeminfo(const std::string& meminfo, uint64_t perCpuFreeBytes,
                                MemoryStatus& out)
{
    out = MemoryStatus{};
    const auto total = meminfoKb(meminfo, "MemTotal");
    const auto free = meminfoKb(meminfo, "MemFree");
    if (!total || *total == 0 || !free)
        return false;
    std::optional<uint64_t> avail = meminfoKb(meminfo, "MemAvailable");
    if (!avail) {
        // Kernels before 3.14 have no estimate; free plus the page cache is the old rule.
        avail = *free + meminfoKb(meminfo, "Buffers").value_or(0) +
                meminfoKb(meminfo, "Cached").value_or(0);
    }
    const uint64_t totalKb = *total;
    const uint64_t availKb = std::min(*avail, totalKb);
    out.totalPhysBytes = totalKb * 1024;
    out.availPhysBytes = availKb * 1024;
    out.freePhysBytes = std::min(*free, totalKb) * 1024 + perCpuFreeBytes;
    if (out.freePhysBytes > out.totalPhysBytes)
        out.freePhysBytes = out.totalPhysBytes;
    // meminfoKb caps values at 2^64 / 1024, so 100 * used cannot overflow.
    out.memoryLoad = static_cast<uint32_t>((totalKb - availKb) * 100 / totalKb);
    return true;
}

std::optional<uint64_t> ProcfsMemory::parsePerCpuFreeBytes(const std::string& zoneinfo,
                                                           uint64_t pageBytes)
{
    std::istringstream in(zoneinfo);
    std::string line;
    uint64_t pages = 0;
    bool seen = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key != "count:")
            continue;
        std::string num;
        if (!(words >> num) || num.empty() || num[0] < '0' || num[0] > '9')
            continue;
        char* end = nullptr;
        errno = 0;
        const unsigned long long v = std::strtoull(num.c_str(), &end, 10);
        if (errno == ERANGE || *end != '\0')
            continue;
        pages += v;
        seen = true;
    }
    if (!seen)
        return std::nullopt;
    return pages * pageBytes;
}

bool ProcfsMemory::parseStat(const std::string& stat, long ticksPerSecond, SystemTimes& out)
{
    out = SystemTimes{};
    if (ticksPerSecond <= 0 || stat.compare(0, 4, "cpu ") != 0)
        return false;
    const size_t eol = stat.find('\n');
    const char* p = stat.data() + 4;
    const char* const end = stat.data() + (eol == std::string::npos ? stat.size() : eol);
    // user nice system idle iowait irq softirq steal guest guest_nice; old kernels stop early.
    uint64_t f[10] = {};
    int n = 0;
    while (n < 10) {
        while (p != end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p == end)
            break;
        const char* const word = p;
        while (p != end && *p != ' ' && *p != '\t')
            ++p;
        if (!decimalField(word, p, f[n]))
            return false;
        ++n;
    }
    if (n < 4)
        return false;
    const uint64_t per = 10000000ULL / static_cast<uint64_t>(ticksPerSecond);
    const uint64_t idle = f[3] + f[4];
    out.idle = idle * per;
    out.kernel = (f[2] + f[5] + f[6] + idle) * per;
    out.user = (f[0] + f[1]) * per;
    return true;
}

bool ProcfsMemory::memoryStatus(MemoryStatus& out)
{
    out = MemoryStatus{};
    const auto meminfo = readFile(m_meminfo, "/meminfo");
    if (!meminfo)
        return false;
    uint64_t perCpu = 0;
    if (const auto zi = readWholeFile(m_root + "/zoneinfo")) {
        const long page = ::sysconf(_SC_PAGESIZE);
        perCpu =
            parsePerCpuFreeBytes(*zi, page > 0 ? static_cast<uint64_t>(page) : 4096).value_or(0);
    }
    return parseMeminfo(*meminfo, perCpu, out);
}

bool ProcfsMemory::memoryLoadStatus(MemoryStatus& out)
{
    out = MemoryStatus{};
    const auto meminfo = readFile(m_meminfo, "/meminfo");
    return meminfo && parseMeminfo(*meminfo, 0, out);
}

bool ProcfsMemory::systemTimes(SystemTimes& out)
{
    out = SystemTimes{};
    const auto stat = readFile(m_stat, "/stat");
    if (!stat)
        return false;
    return parseStat(*stat, ::sysconf(_SC_CLK_TCK), out);
}

uint32_t ProcfsMemory::tickCountMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms); // wraps like GetTickCount
}

void ProcfsMemory::sleepMs(uint32_t ms)
{
    // steady_clock is CLOCK_MONOTONIC here, the clock of tickCountMs.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace vb::platform::linux_

// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows memory figures, CPU times and drive map.
#include "check.h"

#include "platform/win32/win32memory.h"
#include "platform/win32/win32volumes.h"
#include "platform/win32/winapi.h"

#include <psapi.h>

#include <map>

using namespace vb::platform;
using namespace vb::platform::win32;

namespace {

using Map = std::vector<std::pair<std::string, std::string>>;

void memoryFigures()
{
    Win32SystemMemory mem;
    MemoryStatus st;
    VB_REQUIRE(mem.memoryStatus(st));
    VB_CHECK(st.totalPhysBytes > 0);
    VB_CHECK(st.availPhysBytes > 0);
    VB_CHECK(st.availPhysBytes <= st.totalPhysBytes);
    VB_CHECK(st.memoryLoad <= 100u);
    VB_CHECK_EQ(st.freePhysBytes, st.availPhysBytes);
    // The total is the machine's: the same as the system reports it through another call.
    MEMORYSTATUSEX raw{};
    raw.dwLength = sizeof(raw);
    VB_REQUIRE(GlobalMemoryStatusEx(&raw));
    VB_CHECK_EQ(st.totalPhysBytes, static_cast<uint64_t>(raw.ullTotalPhys));
    PERFORMANCE_INFORMATION perf{};
    if (GetPerformanceInfo(&perf, sizeof(perf)))
        VB_CHECK_EQ(st.totalPhysBytes / perf.PageSize, static_cast<uint64_t>(perf.PhysicalTotal));
}

uint64_t threadCpu()
{
    FILETIME c{}, e{}, k{}, u{};
    GetThreadTimes(GetCurrentThread(), &c, &e, &k, &u);
    return ticksOf(k) + ticksOf(u);
}

void cpuTimes()
{
    Win32SystemMemory mem;
    SystemTimes a, b;
    VB_REQUIRE(mem.systemTimes(a));
    VB_CHECK(a.kernel >= a.idle); // kernel time includes idle time
    VB_CHECK(a.user > 0);
    // Burn a tenth of a second of our own CPU: the system's busy time must grow by some.
    const uint64_t start = threadCpu();
    volatile uint64_t sink = 0;
    for (int i = 0; i < 200000 && threadCpu() - start < 1000000; ++i)
        for (int j = 0; j < 10000; ++j)
            sink = sink + static_cast<uint64_t>(j);
    VB_REQUIRE(threadCpu() - start >= 1000000);
    VB_REQUIRE(mem.systemTimes(b));
    VB_CHECK(b.idle >= a.idle);
    VB_CHECK(b.kernel >= a.kernel);
    VB_CHECK(b.user >= a.user);
    VB_CHECK((b.kernel - b.idle) + b.user > (a.kernel - a.idle) + a.user);
}

void tickAndSleep()
{
    Win32SystemMemory mem;
    const uint32_t t0 = mem.tickCountMs();
    mem.sleepMs(50);
    // The same clock: the tick has moved by the sleep, less at most one tick's coarseness.
    VB_CHECK(static_cast<uint32_t>(mem.tickCountMs() - t0) >= 50u - 16u);
}

void driveMapFromLists()
{
    const std::map<std::wstring, std::wstring> devices = {
        {L"C:", L"\\Device\\HarddiskVolume1"},
        {L"D:", L"\\Device\\CdRom0"},
        {L"E:", L"\\Device\\HarddiskVolume1"}, // a second letter for C:'s volume
        {L"Z:", L"\\??\\unix\\"},
    };
    auto deviceOf = [&devices](const std::wstring& drive) {
        const auto it = devices.find(drive);
        return it == devices.end() ? std::wstring() : it->second;
    };
    struct Row
    {
        const char* name;
        std::wstring list;
        Map expected;
    };
    using namespace std::string_literals;
    const Row rows[] = {
        {"empty list", L""s, {}},
        {"one drive", L"C:\\\0\0"s, {{"\\Device\\HarddiskVolume1", "C:"}}},
        {"drive order kept",
         L"D:\\\0C:\\\0\0"s,
         {{"\\Device\\CdRom0", "D:"}, {"\\Device\\HarddiskVolume1", "C:"}}},
        {"a device keeps its first drive",
         L"C:\\\0E:\\\0\0"s,
         {{"\\Device\\HarddiskVolume1", "C:"}}},
        {"a drive without a device is left out",
         L"Q:\\\0C:\\\0\0"s,
         {{"\\Device\\HarddiskVolume1", "C:"}}},
        {"no letter, no drive",
         L"\\\\server\\share\\\0C:\\\0\0"s,
         {{"\\Device\\HarddiskVolume1", "C:"}}},
        {"the list ends at the empty string",
         L"C:\\\0\0Z:\\\0\0"s,
         {{"\\Device\\HarddiskVolume1", "C:"}}},
        {"no final zero", L"Z:\\"s, {{"\\??\\unix\\", "Z:"}}},
    };
    for (const Row& r : rows) {
        std::printf("  row: %s\n", r.name);
        VB_CHECK(Win32Volumes::driveMapOf(r.list, deviceOf) == r.expected);
    }
}

void systemDriveMap()
{
    // The drive of the system folder has a device, as every image on it needs.
    wchar_t sys[MAX_PATH];
    VB_REQUIRE(GetSystemDirectoryW(sys, MAX_PATH) >= 2);
    const std::string drive = utf8Of(sys, 2);
    const Map map = Win32Volumes().driveMap();
    bool found = false;
    for (const auto& [device, letter] : map) {
        if (letter != drive)
            continue;
        found = true;
        VB_CHECK(device.rfind("\\Device\\", 0) == 0);
    }
    VB_CHECK(found);
}

} // namespace

int main()
{
    return vbtest::run({
        {"memory figures", memoryFigures},
        {"cpu times", cpuTimes},
        {"tick and sleep", tickAndSleep},
        {"drive map from the lists", driveMapFromLists},
        {"drive map of this system", systemDriveMap},
    });
}

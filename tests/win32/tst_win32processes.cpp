// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows process backend against real processes: a child of our own (this very program
// started again) that holds a known amount of memory until we let it go.
#include "check.h"
#include "child.h"

#include "platform/win32/win32processes.h"
#include "platform/win32/win32volumes.h"
#include "platform/win32/winapi.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <memory>

using namespace vb::platform;
using namespace vb::platform::win32;
using vbtest::Child;
using vbtest::ownImage;
using vbtest::underWine;

namespace {

constexpr size_t HeldBytes = 64u << 20;
// No process has this id: ids are multiples of four well below it.
constexpr ProcessId NoSuchPid = 0xFFFFFFF0u;

// The child's side: touch the held memory, say so on stdout, live until stdin closes.
int childMain(const char* mode)
{
    if (std::strcmp(mode, "exit") == 0)
        return 0;
    std::unique_ptr<char[]> held(new char[HeldBytes]);
    for (size_t i = 0; i < HeldBytes; i += 4096)
        held[i] = static_cast<char>(i);
    vbtest::tellReady();
    vbtest::waitForParent();
    return held[4096] == static_cast<char>(4096) ? 0 : 2;
}

bool contains(const std::vector<ProcessId>& ids, ProcessId pid)
{
    return std::find(ids.begin(), ids.end(), pid) != ids.end();
}

std::wstring lower(std::wstring s)
{
    for (auto& c : s)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return s;
}

void idsWithAnyFirstBuffer()
{
    Child child("hold");
    VB_REQUIRE(child.ready());
    // One id of room is filled by any answer: only the doubling finds the rest.
    Win32Processes tiny(1);
    ProcessId one[1] = {};
    uint32_t bytes = 0;
    VB_REQUIRE(tiny.enumProcesses(one, sizeof(one), bytes));
    VB_CHECK_EQ(bytes, sizeof(one));

    for (const uint32_t first : {1u, 2u, 3u, 4096u}) {
        Win32Processes procs(first);
        std::vector<ProcessId> ids;
        VB_REQUIRE(procs.processIds(ids));
        VB_CHECK(contains(ids, child.pid));
        VB_CHECK(contains(ids, GetCurrentProcessId()));
        VB_CHECK(!contains(ids, 0));
        std::vector<ProcessId> sorted = ids;
        std::sort(sorted.begin(), sorted.end());
        VB_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end());
    }
    Win32Processes procs;
    VB_CHECK_EQ(procs.currentProcessId(), GetCurrentProcessId());
}

// The system's answers scripted, to see the buffer grow and the idle process go.
class ScriptedIds : public Win32Processes
{
public:
    ScriptedIds(uint32_t first, std::vector<ProcessId> system, int failAtCall)
        : Win32Processes(first ? Win32Processes(first) : Win32Processes()),
          m_system(std::move(system)), m_failAt(failAtCall)
    {}
    bool enumProcesses(ProcessId* ids, uint32_t capacityBytes, uint32_t& bytesReturned) override
    {
        capacities.push_back(capacityBytes / sizeof(ProcessId));
        if (static_cast<int>(capacities.size()) == m_failAt)
            return false;
        const size_t fit = std::min<size_t>(m_system.size(), capacityBytes / sizeof(ProcessId));
        std::copy(m_system.begin(), m_system.begin() + static_cast<std::ptrdiff_t>(fit), ids);
        bytesReturned = static_cast<uint32_t>(fit * sizeof(ProcessId));
        return true;
    }
    std::vector<size_t> capacities;

private:
    std::vector<ProcessId> m_system;
    int m_failAt;
};

void idBufferDoubling()
{
    struct Row
    {
        const char* name;
        uint32_t first; // 0: the backend's own first size
        std::vector<ProcessId> system;
        int failAtCall; // 0: never
        bool ok;
        std::vector<size_t> capacities;
        std::vector<ProcessId> ids;
    };
    const Row rows[] = {
        {"room to spare", 4, {0, 4, 8}, 0, true, {4}, {4, 8}},
        {"exactly full asks again", 4, {0, 4, 8, 12}, 0, true, {4, 8}, {4, 8, 12}},
        {"grows until it fits", 2, {4, 8, 12, 16, 20}, 0, true, {2, 4, 8}, {4, 8, 12, 16, 20}},
        {"first call fails", 4, {4}, 1, false, {4}, {}},
        {"a later call fails", 1, {4, 8}, 2, false, {1, 2}, {}},
        {"the default starts at 4096", 0, {0, 4}, 0, true, {4096}, {4}},
    };
    for (const Row& r : rows) {
        std::printf("  row: %s\n", r.name);
        ScriptedIds procs(r.first, r.system, r.failAtCall);
        std::vector<ProcessId> ids;
        VB_CHECK_EQ(procs.processIds(ids), r.ok);
        VB_CHECK(procs.capacities == r.capacities);
        if (r.ok)
            VB_CHECK(ids == r.ids);
    }
}

void imageMapsToDrivePath()
{
    Child child("hold");
    VB_REQUIRE(child.ready());
    Win32Processes procs;
    const std::string device = procs.imagePath(child.pid);
    VB_REQUIRE(device.rfind("\\Device\\", 0) == 0);
    // The device path, its device replaced by its drive, is the path we started it from.
    std::string mapped;
    for (const auto& [dev, drive] : Win32Volumes().driveMap()) {
        if (device.size() > dev.size() && device.compare(0, dev.size(), dev) == 0 &&
            device[dev.size()] == '\\')
            mapped = drive + device.substr(dev.size());
    }
    VB_CHECK_EQ(lower(wideOf(mapped)) == lower(vbtest::ownImage()), true);
    VB_CHECK_EQ(procs.imagePath(NoSuchPid), std::string());
}

void accessMemoryAndStartTable()
{
    Child child("hold");
    VB_REQUIRE(child.ready());
    struct Row
    {
        const char* name;
        ProcessId pid;
        uint32_t access;
        uint64_t atLeastBytes; // 0: no figure at all
    };
    const Row rows[] = {
        {"ourselves", GetCurrentProcessId(), ErrSuccess, 1},
        {"child holding memory", child.pid, ErrSuccess, HeldBytes},
        {"no such process", NoSuchPid, ErrInvalidParameter, 0},
    };
    Win32Processes procs;
    for (const Row& r : rows) {
        std::printf("  row: %s\n", r.name);
        VB_CHECK_EQ(procs.queryAccess(r.pid), r.access);
        VB_CHECK_EQ(procs.canOpen(r.pid), r.access == ErrSuccess);
        const std::optional<uint64_t> ws = procs.workingSetBytes(r.pid);
        VB_CHECK_EQ(ws.has_value(), r.atLeastBytes != 0);
        if (ws)
            VB_CHECK(*ws >= r.atLeastBytes);
        // A start time for every process there is, the same each time it is read.
        const uint64_t start = procs.startTime(r.pid);
        VB_CHECK_EQ(start != 0, r.access == ErrSuccess);
        VB_CHECK_EQ(procs.startTime(r.pid), start);
    }
    // The child started after us.
    VB_CHECK(procs.startTime(child.pid) >= procs.startTime(GetCurrentProcessId()));
}

void terminateByPid()
{
    Child child("hold");
    VB_REQUIRE(child.ready());
    Win32Processes procs;
    const uint64_t start = procs.startTime(child.pid);
    VB_REQUIRE(start != 0);
    // A start time that is not the child's: the id is taken to be another process's.
    VB_CHECK(!procs.terminate(child.pid, start + 1, 2000));
    VB_CHECK(child.running());
    VB_CHECK(procs.terminate(child.pid, start, 2000));
    VB_CHECK_EQ(WaitForSingleObject(child.process.get(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    VB_CHECK(GetExitCodeProcess(child.process.get(), &code));
    VB_CHECK_EQ(code, 1ul);
    VB_CHECK(!procs.terminate(0, 0, 0));
    VB_CHECK(!procs.terminate(NoSuchPid, 0, 0));
}

void terminateEndedProcess()
{
    Child child("exit");
    VB_REQUIRE(child.process);
    VB_REQUIRE(WaitForSingleObject(child.process.get(), 10000) == WAIT_OBJECT_0);
    // Our handle keeps the ended process and its id; ending it again is no success of ours.
    Win32Processes procs;
    VB_CHECK(!procs.terminate(child.pid, 0, 0));
    const Handle again(OpenProcess(PROCESS_TERMINATE, FALSE, child.pid));
    VB_REQUIRE(again);
    const BOOL raw = TerminateProcess(again.get(), 1);
    if (vbtest::underWine())
        VB_CHECK(raw); // wine: terminating an ended process succeeds
    else
        VB_CHECK(!raw);
    DWORD code = 99;
    VB_CHECK(GetExitCodeProcess(child.process.get(), &code));
    VB_CHECK_EQ(code, 0ul); // it keeps the code it ended with
}

void emptyWorkingSets()
{
    Child child("hold");
    VB_REQUIRE(child.ready());
    Win32Processes procs;
    Win32WorkingSets sets;
    const uint64_t before = procs.workingSetBytes(child.pid).value_or(0);
    VB_REQUIRE(before >= HeldBytes);
    const EmptiedProcess one = sets.emptyWorkingSet(child.pid);
    VB_CHECK(one.reached);
    const uint64_t after = procs.workingSetBytes(child.pid).value_or(0);
    if (vbtest::underWine()) {
        // wine: the call succeeds and moves nothing.
        VB_CHECK_EQ(one.releasedBytes, uint64_t(0));
        VB_CHECK(after >= HeldBytes);
    } else {
        VB_CHECK(one.releasedBytes >= HeldBytes / 2);
        VB_CHECK(after < before);
    }
    VB_CHECK(!sets.emptyWorkingSet(NoSuchPid).reached);
    const EmptiedSet all = sets.emptyWorkingSets({NoSuchPid, child.pid, GetCurrentProcessId()});
    VB_CHECK_EQ(all.processesEmptied, 2u);
    VB_CHECK(child.running());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return childMain(argv[2]);
    return vbtest::run({
        {"id buffer doubling", idBufferDoubling},
        {"ids with any first buffer size", idsWithAnyFirstBuffer},
        {"image maps to the drive path", imageMapsToDrivePath},
        {"access, memory and start time", accessMemoryAndStartTable},
        {"terminate by pid", terminateByPid},
        {"terminate an ended process", terminateEndedProcess},
        {"empty working sets", emptyWorkingSets},
    });
}

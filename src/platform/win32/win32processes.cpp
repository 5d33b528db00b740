// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/win32/win32processes.h"

#include "platform/win32/winapi.h"

#include <psapi.h>

namespace vb::platform::win32 {

namespace {

// What a process row needs: its memory counters and image name.
constexpr DWORD QueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ; // 0x410
// The right SetProcessWorkingSetSize needs, and nothing more.
constexpr DWORD SetQuota = PROCESS_SET_QUOTA; // 0x100
// Ending a process and waiting for its end.
constexpr DWORD TerminateAndWait = SYNCHRONIZE | PROCESS_TERMINATE; // 0x100001
// The least right that reads times and counters; granted where the others are not.
constexpr DWORD QueryLimited = PROCESS_QUERY_LIMITED_INFORMATION;
// The image name buffer, in characters.
constexpr DWORD ImageNameChars = 512;

Handle openProcess(DWORD access, ProcessId pid)
{
    return Handle(OpenProcess(access, FALSE, pid));
}

std::optional<uint64_t> workingSetOf(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)))
        return std::nullopt;
    return static_cast<uint64_t>(counters.WorkingSetSize);
}

uint64_t creationTimeOf(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return ticksOf(created);
}

} // namespace

Win32Processes::Win32Processes(uint32_t firstCapacity)
    : m_firstCapacity(firstCapacity == 0 ? 1 : firstCapacity)
{}

bool Win32Processes::enumProcesses(ProcessId* ids, uint32_t capacityBytes, uint32_t& bytesReturned)
{
    static_assert(sizeof(ProcessId) == sizeof(DWORD), "process ids cross the seam as DWORDs");
    DWORD got = 0;
    if (!EnumProcesses(reinterpret_cast<DWORD*>(ids), capacityBytes, &got))
        return false;
    bytesReturned = got;
    return true;
}

bool Win32Processes::processIds(std::vector<ProcessId>& ids)
{
    // A buffer the answer fills completely may have been too small: ask again with twice the
    // room until some of it stays unused.
    std::vector<ProcessId> buf(m_firstCapacity);
    uint32_t bytes = 0;
    auto capacityBytes = [&buf] { return static_cast<uint32_t>(buf.size() * sizeof(ProcessId)); };
    if (!enumProcesses(buf.data(), capacityBytes(), bytes))
        return false;
    while (bytes == capacityBytes()) {
        if (buf.size() > (1u << 24))
            return false; // sixteen million processes: the answer cannot be trusted
        std::vector<ProcessId>(buf.size() * 2).swap(buf);
        if (!enumProcesses(buf.data(), capacityBytes(), bytes))
            return false;
    }
    ids.clear();
    const size_t n = bytes / sizeof(ProcessId);
    for (size_t i = 0; i < n; ++i)
        if (buf[i] != 0) // the idle process is no process to show or touch
            ids.push_back(buf[i]);
    return true;
}

std::string Win32Processes::imagePath(ProcessId pid)
{
    const Handle process = openProcess(QueryAndRead, pid);
    if (!process)
        return {};
    wchar_t name[ImageNameChars];
    const DWORD len = GetProcessImageFileNameW(process.get(), name, ImageNameChars);
    return utf8Of(name, len);
}

std::optional<uint64_t> Win32Processes::workingSetBytes(ProcessId pid)
{
    const Handle process = openProcess(QueryAndRead, pid);
    if (!process)
        return std::nullopt;
    return workingSetOf(process.get());
}

uint32_t Win32Processes::queryAccess(ProcessId pid)
{
    const Handle process = openProcess(QueryAndRead, pid);
    if (!process) {
        const DWORD err = GetLastError();
        return err != ErrSuccess ? err : static_cast<uint32_t>(ErrAccessDenied);
    }
    return ErrSuccess;
}

uint64_t Win32Processes::startTime(ProcessId pid)
{
    const Handle process = openProcess(QueryLimited, pid);
    return process ? creationTimeOf(process.get()) : 0;
}

bool Win32Processes::terminate(ProcessId pid, uint64_t expectedStart, uint32_t waitMs)
{
    if (pid == 0)
        return false;
    // The handle holds one process for good: its id is not handed out again while it is open,
    // so the start time read through it is that process's own.
    const Handle process =
        openProcess(expectedStart != 0 ? TerminateAndWait | QueryLimited : TerminateAndWait, pid);
    if (!process)
        return false;
    if (expectedStart != 0 && creationTimeOf(process.get()) != expectedStart)
        return false; // another process has the id now
    // One that had ended before we came was not ended by us (and some systems still report
    // its termination as a success).
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
        return false;
    if (!TerminateProcess(process.get(), 1))
        return false;
    // Termination is asynchronous; the wait lets the system take its memory back first. Its
    // outcome does not change the answer: the process is on its way out.
    WaitForSingleObject(process.get(), waitMs);
    return true;
}

ProcessId Win32Processes::currentProcessId()
{
    return GetCurrentProcessId();
}

EmptiedProcess Win32WorkingSets::emptyWorkingSet(ProcessId pid)
{
    EmptiedProcess result;
    const Handle process = openProcess(SetQuota, pid);
    if (!process)
        return result; // system, protected and other users' processes are skipped
    result.reached = true;
    // Measured through a handle of its own, so that the release itself asks for no more
    // than it needs.
    const Handle query = openProcess(QueryLimited, pid);
    const std::optional<uint64_t> before =
        query ? workingSetOf(query.get()) : std::optional<uint64_t>();
    // (SIZE_T)-1 for both bounds: remove as many pages as possible. Its result changes
    // nothing: the process was reached either way.
    SetProcessWorkingSetSize(process.get(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    const std::optional<uint64_t> after =
        query ? workingSetOf(query.get()) : std::optional<uint64_t>();
    if (before && after && *before > *after)
        result.releasedBytes = *before - *after;
    return result;
}

} // namespace vb::platform::win32

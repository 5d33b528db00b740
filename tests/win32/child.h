// SPDX-License-Identifier: GPL-3.0-or-later
// The test programs' own children: the program started again with "--child <mode>", a ready
// byte on its stdout, alive until its stdin closes.
#pragma once

#include "check.h"
#include "platform/types.h"
#include "platform/win32/winapi.h"

#include <string>

namespace vbtest {

using vb::platform::ProcessId;
using vb::platform::win32::Handle;

// A child started from this program; it ends at the latest when we are destroyed.
struct Child
{
    Handle process;
    Handle toChild;   // closing it lets the child end
    Handle fromChild; // its "ready" byte
    ProcessId pid = 0;

    explicit Child(const char* mode)
    {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
        if (!CreatePipe(&inRead, &inWrite, &inherit, 0))
            return;
        if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
            CloseHandle(inRead);
            CloseHandle(inWrite);
            return;
        }
        Handle childIn(inRead), childOut(outWrite);
        toChild.reset(inWrite);
        fromChild.reset(outRead);
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = childIn.get();
        si.hStdOutput = childOut.get();
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const std::wstring image = ownImage();
        std::wstring cmd = L"\"" + image + L"\" --child " + vb::platform::win32::wideOf(mode);
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(image.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &si, &pi))
            return;
        CloseHandle(pi.hThread);
        process.reset(pi.hProcess);
        pid = pi.dwProcessId;
    }
    ~Child()
    {
        toChild.reset();
        if (process && WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0)
            TerminateProcess(process.get(), 3);
    }
    // True once the child says it is ready.
    bool ready()
    {
        char c = 0;
        DWORD n = 0;
        return fromChild && ReadFile(fromChild.get(), &c, 1, &n, nullptr) && n == 1 && c == 'r';
    }
    bool running() const { return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }
};

// The child's side of "ready": one byte on stdout.
inline void tellReady()
{
    DWORD n = 0;
    const char c = 'r';
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &c, 1, &n, nullptr);
}

// The child's side of "live until stdin closes".
inline void waitForParent()
{
    DWORD n = 0;
    char c = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr) && n > 0) {
    }
}

} // namespace vbtest

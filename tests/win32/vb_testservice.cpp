// SPDX-License-Identifier: GPL-3.0-or-later
// A service for the service tests: vb_testservice <name> <pace> <log file>. On the stop
// request it appends "stop <name>" to the log file, so the order of stops can be read, then
// stops at its pace:
//   quick  stops at once;
//   slow   says it is stopping with a long wait hint, and stops only when the test sets the
//          event kReleaseEvent (or after a minute, so a crashed test leaves nothing running);
//   nohint says it is stopping with wait hint 0, and stops half a second later.
#include "testservice.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

const char* g_name = "";
const char* g_pace = "";
const char* g_log = "";
std::wstring g_wideName; // the names are plain ASCII
SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopAsked = nullptr;
DWORD g_checkPoint = 0;

void report(DWORD state, DWORD waitHint)
{
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    s.dwWaitHint = waitHint;
    s.dwCheckPoint = state == SERVICE_STOP_PENDING ? ++g_checkPoint : 0;
    SetServiceStatus(g_status, &s);
}

void appendLine(const std::string& line)
{
    HANDLE f = CreateFileA(g_log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD n = 0;
    const std::string text = line + "\n";
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(f);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*)
{
    if (code != SERVICE_CONTROL_STOP)
        return code == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
    appendLine(std::string("stop ") + g_name);
    if (std::strcmp(g_pace, "slow") == 0)
        report(SERVICE_STOP_PENDING, vbtest::kSlowWaitHintMs);
    else if (std::strcmp(g_pace, "nohint") == 0)
        report(SERVICE_STOP_PENDING, 0);
    SetEvent(g_stopAsked);
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t**)
{
    g_status = RegisterServiceCtrlHandlerExW(g_wideName.c_str(), control, nullptr);
    if (!g_status)
        return;
    report(SERVICE_RUNNING, 0);
    WaitForSingleObject(g_stopAsked, INFINITE);
    if (std::strcmp(g_pace, "slow") == 0) {
        HANDLE release = CreateEventW(nullptr, TRUE, FALSE, vbtest::kReleaseEvent);
        WaitForSingleObject(release, 60000);
        CloseHandle(release);
    } else if (std::strcmp(g_pace, "nohint") == 0) {
        Sleep(500); // the pace under test: a stop that takes a while and says nothing of it
    }
    report(SERVICE_STOPPED, 0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    g_name = argv[1];
    g_pace = argv[2];
    g_log = argv[3];
    g_wideName.assign(g_name, g_name + std::strlen(g_name));
    g_stopAsked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const SERVICE_TABLE_ENTRYW table[] = {{g_wideName.data(), serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows desktop backends against a real window system (wine's, on Xvfb): top-level
// windows of a child of ours and the candidate rule over them, activation, the hot key pressed
// through the input queue, and the monitors' work areas.
#include "check.h"
#include "child.h"

#include "platform/win32/win32hotkeys.h"
#include "platform/win32/win32screens.h"
#include "platform/win32/win32windows.h"
#include "procs/candidaterules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

namespace vb::platform {
// For the checks' messages.
std::ostream& operator<<(std::ostream& s, const Rect& r)
{
    return s << r.x << ',' << r.y << ' ' << r.width << 'x' << r.height;
}
} // namespace vb::platform

using namespace vb::platform;
using namespace vb::platform::win32;
using vbtest::Child;

namespace {

constexpr wchar_t TestClass[] = L"VerdantBallTestWindow";

void registerTestClass()
{
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = DefWindowProcW;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = TestClass;
    RegisterClassExW(&cls);
}

HWND makeWindow(const wchar_t* title, DWORD exStyle = 0, HWND owner = nullptr)
{
    registerTestClass();
    // Popups: wine leaves them to no window manager, so it does not wait on one when they go
    // (Xvfb has none, and each managed window would cost seconds).
    return CreateWindowExW(exStyle, TestClass, title, WS_POPUP, 10, 10, 200, 100, owner, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Our own window, gone at the end of the case.
struct Window
{
    HWND hwnd;
    explicit Window(const wchar_t* title, DWORD exStyle = 0) : hwnd(makeWindow(title, exStyle)) {}
    ~Window() { DestroyWindow(hwnd); }
    uintptr_t id() const { return reinterpret_cast<uintptr_t>(hwnd); }
};

// The child's windows. "all": each kind once, two of them candidates (shown and minimised);
// "none": only kinds the candidate rule leaves out (the owner of the owned one is hidden);
// "shell": one window, claimed as the desktop's shell window.
int childMain(const char* mode)
{
    if (std::strcmp(mode, "shell") == 0) {
        // Not in the import library: the shell claims the shell window with it.
        using SetShell = BOOL(WINAPI*)(HWND);
        const auto setShell = reinterpret_cast<SetShell>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
        if (!setShell || !setShell(makeWindow(L"vb shell")))
            return 1;
        vbtest::tellReady();
        vbtest::waitForParent();
        return 0;
    }
    const bool all = std::strcmp(mode, "all") == 0;
    const HWND owner = makeWindow(L"vb owner");
    if (all) {
        ShowWindow(owner, SW_SHOWNOACTIVATE);
        ShowWindow(makeWindow(L"vb minimised"), SW_SHOWMINNOACTIVE);
    }
    ShowWindow(makeWindow(L"vb owned", 0, owner), SW_SHOWNOACTIVATE);
    ShowWindow(makeWindow(L"vb tool", WS_EX_TOOLWINDOW), SW_SHOWNOACTIVATE);
    makeWindow(L"vb hidden");
    vbtest::tellReady();
    vbtest::waitForParent();
    return 0;
}

std::wstring titleOf(uintptr_t id)
{
    wchar_t text[64] = {};
    GetWindowTextW(reinterpret_cast<HWND>(id), text, 64);
    return text;
}

void childWindowsWithTheirFlags()
{
    Child child("all");
    VB_REQUIRE(child.ready());
    Win32TopLevelWindows windows;
    std::vector<TopLevelWindow> all;
    VB_REQUIRE(windows.topLevelWindows(all));
    std::map<std::wstring, TopLevelWindow> byTitle;
    for (const TopLevelWindow& w : all) {
        const std::wstring title = titleOf(w.id);
        if (title.rfind(L"vb ", 0) == 0) {
            VB_CHECK(byTitle.count(title) == 0);
            byTitle[title] = w;
        }
    }
    struct Row
    {
        const wchar_t* title;
        bool visible, owned, tool;
    };
    const Row rows[] = {
        {L"vb owner", true, false, false},   {L"vb minimised", true, false, false},
        {L"vb owned", true, true, false},    {L"vb tool", true, false, true},
        {L"vb hidden", false, false, false},
    };
    VB_CHECK_EQ(byTitle.size(), std::size(rows));
    for (const Row& r : rows) {
        const auto it = byTitle.find(r.title);
        if (it == byTitle.end()) {
            vbtest::fail(__FILE__, __LINE__, "window not found: " + utf8Of(r.title));
            continue;
        }
        const TopLevelWindow& w = it->second;
        std::printf("  %s: pid %u visible %d owned %d tool %d\n", utf8Of(r.title).c_str(), w.pid,
                    w.visible, w.owned, w.tool);
        VB_CHECK_EQ(w.pid, child.pid);
        VB_CHECK_EQ(w.visible, r.visible);
        VB_CHECK_EQ(w.owned, r.owned);
        VB_CHECK_EQ(w.tool, r.tool);
    }
}

void candidateRuleOverRealWindows()
{
    struct Row
    {
        const char* mode;
        int expected; // times the child's id is passed
    };
    const Row rows[] = {{"all", 1}, {"none", 0}};
    for (const Row& r : rows) {
        Child child(r.mode);
        VB_REQUIRE(child.ready());
        int seen = 0;
        std::vector<ProcessId> order;
        VB_CHECK(enumWindowCandidates(std::make_shared<Win32TopLevelWindows>(), [&](ProcessId pid) {
            seen += pid == child.pid;
            order.push_back(pid);
        }));
        VB_CHECK_EQ(seen, r.expected);
        VB_CHECK(std::is_sorted(order.begin(), order.end()));
    }
}

void shellProcess()
{
    Win32TopLevelWindows windows;
    if (const HWND desktopShell = GetShellWindow()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(desktopShell, &pid);
        VB_CHECK_EQ(windows.shellProcessId(), ProcessId(pid));
        VB_CHECK(pid != 0 && pid != GetCurrentProcessId());
        return;
    }
    // wine without a virtual desktop: no shell window until a child of ours claims it.
    VB_CHECK(vbtest::underWine());
    VB_CHECK_EQ(windows.shellProcessId(), ProcessId(0));
    Child shell("shell");
    VB_REQUIRE(shell.ready());
    VB_CHECK_EQ(windows.shellProcessId(), shell.pid);
}

void activation()
{
    Window first(L"vb first"), second(L"vb second");
    VB_REQUIRE(first.hwnd && second.hwnd);
    ShowWindow(first.hwnd, SW_SHOW);
    ShowWindow(second.hwnd, SW_SHOWMINIMIZED);
    Win32TopLevelWindows windows;
    windows.activateWindow(second.id());
    VB_CHECK(GetForegroundWindow() == second.hwnd);
    VB_CHECK(!IsIconic(second.hwnd));
    windows.activateWindow(first.id());
    VB_CHECK(GetForegroundWindow() == first.hwnd);
}

// Ctrl+Alt+key through the input queue, as a keyboard would type it.
void press(WORD key)
{
    const WORD keys[3] = {VK_CONTROL, VK_MENU, key};
    INPUT in[6] = {};
    for (int i = 0; i < 3; ++i) {
        in[i].type = in[5 - i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = in[5 - i].ki.wVk = keys[i];
        in[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    VB_CHECK_EQ(SendInput(6, in, sizeof(INPUT)), 6u);
}

// Runs this thread's message loop until done() holds; false when it never did.
template <typename Done> bool pumpUntil(Done done)
{
    for (int i = 0; i < 200 && !done(); ++i) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    return done();
}

void hotKeys()
{
    constexpr unsigned CtrlAlt = ModControl | ModAlt;
    Window own(L"vb hot key owner");
    VB_REQUIRE(own.hwnd);
    const uintptr_t targets[] = {own.id(), 0}; // a window of the caller's, the backend's own
    for (const uintptr_t target : targets) {
        std::printf("  window %s\n", target ? "given" : "0 (the backend's)");
        Win32HotKeys keys;
        std::map<int, int> pressed; // by id the handler was given
        const auto count = [&pressed](int id) { ++pressed[id]; };
        VB_CHECK(keys.registerHotKey(target, 1, CtrlAlt, 'C', count) == HotKeyResult::Registered);
        // A second key pressed after the first: once its press arrives, the first's has too.
        VB_CHECK(keys.registerHotKey(target, 2, CtrlAlt, 'V', count) == HotKeyResult::Registered);
        // The combination is taken: by another id, and by another registrar.
        VB_CHECK(keys.registerHotKey(target, 3, CtrlAlt, 'C', count) == HotKeyResult::Conflict);
        Win32HotKeys other;
        VB_CHECK(other.registerHotKey(0, 1, CtrlAlt, 'C', count) == HotKeyResult::Conflict);

        press('C');
        press('V');
        VB_CHECK(pumpUntil([&] { return pressed[2] == 1; }));
        VB_CHECK_EQ(pressed[1], 1);
        VB_CHECK_EQ(pressed[3], 0);

        keys.unregisterHotKey(target, 1);
        press('C');
        press('V');
        VB_CHECK(pumpUntil([&] { return pressed[2] == 2; }));
        VB_CHECK_EQ(pressed[1], 1);
        // Given up for real: another registrar may have it now.
        VB_CHECK(other.registerHotKey(0, 1, CtrlAlt, 'C', count) == HotKeyResult::Registered);
        other.unregisterHotKey(0, 1);
    }
    // Each backend above was destroyed holding Ctrl+Alt+V: it is free again. A window that is
    // gone cannot take a key.
    Win32HotKeys keys;
    VB_CHECK(keys.registerHotKey(0, 1, CtrlAlt, 'V', nullptr) == HotKeyResult::Registered);
    const HWND gone = makeWindow(L"vb gone");
    DestroyWindow(gone);
    VB_CHECK(keys.registerHotKey(reinterpret_cast<uintptr_t>(gone), 4, CtrlAlt, 'B', nullptr) ==
             HotKeyResult::Failed);
}

bool inside(const Rect& inner, const Rect& outer)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom() && inner.width > 0 && inner.height > 0;
}

void screens()
{
    Win32Screens screens;
    const std::vector<Rect> areas = screens.availableGeometries();
    VB_REQUIRE(!areas.empty());
    VB_CHECK_EQ(areas.size(), size_t(GetSystemMetrics(SM_CMONITORS)));
    const Rect primary = screens.primaryAvailableGeometry();
    VB_CHECK_EQ(areas.front(), primary);
    RECT work{};
    VB_REQUIRE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    VB_CHECK_EQ(primary,
                (Rect{work.left, work.top, work.right - work.left, work.bottom - work.top}));
    const Rect screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    VB_CHECK(inside(primary, screen));
    const Rect desktop{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                       GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    for (const Rect& r : areas)
        VB_CHECK(inside(r, desktop));
    // The X screen and the work area on it that the test script gave wine, when it did.
    Rect given;
    const char* size = std::getenv("VB_TEST_SCREEN");
    if (size && std::sscanf(size, "%dx%d", &given.width, &given.height) == 2)
        VB_CHECK_EQ(screen, given);
    const char* area = std::getenv("VB_TEST_WORKAREA");
    if (area &&
        std::sscanf(area, "%d,%d,%d,%d", &given.x, &given.y, &given.width, &given.height) == 4)
        VB_CHECK_EQ(primary, given);
    std::ostringstream seen;
    seen << "  screen " << screen << ", " << areas.size() << " monitor(s), primary work area "
         << primary;
    std::printf("%s\n", seen.str().c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return childMain(argv[2]);
    return vbtest::run({
        {"a child's windows with their flags", childWindowsWithTheirFlags},
        {"the candidate rule over real windows", candidateRuleOverRealWindows},
        {"the shell process", shellProcess},
        {"activation", activation},
        {"hot keys", hotKeys},
        {"screens", screens},
    });
}

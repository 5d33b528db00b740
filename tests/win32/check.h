// SPDX-License-Identifier: GPL-3.0-or-later
// A few lines of test harness for the Windows backend's plain test programs: named cases,
// checks that report where and what, and wine told apart from Windows where they differ.
#pragma once

#include "platform/win32/winapi.h"

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vbtest {

inline int& failures()
{
    static int n = 0;
    return n;
}

inline void fail(const char* file, int line, const std::string& what)
{
    ++failures();
    std::fprintf(stderr, "%s:%d: FAIL: %s\n", file, line, what.c_str());
}

template <typename A, typename B> std::string describe(const char* expr, const A& a, const B& b)
{
    std::ostringstream s;
    s << expr << " (got " << a << ", expected " << b << ")";
    return s.str();
}

// Wine says it is wine through an export of its ntdll that Windows does not have.
inline bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The running test program's own path.
inline std::wstring ownImage()
{
    wchar_t path[MAX_PATH];
    return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

// The cases of one program, run in order; returns the exit code for ctest.
inline int run(const std::vector<std::pair<const char*, std::function<void()>>>& cases)
{
    for (const auto& [name, body] : cases) {
        const int before = failures();
        body();
        std::printf("%s %s\n", failures() == before ? "PASS" : "FAIL", name);
    }
    std::printf("%d failure(s)\n", failures());
    return failures() == 0 ? 0 : 1;
}

} // namespace vbtest

#define VB_CHECK(cond)                                                                             \
    do {                                                                                           \
        if (!(cond))                                                                               \
            vbtest::fail(__FILE__, __LINE__, #cond);                                               \
    } while (0)
#define VB_CHECK_EQ(a, b)                                                                          \
    do {                                                                                           \
        const auto& vb_a_ = (a);                                                                   \
        const auto& vb_b_ = (b);                                                                   \
        if (!(vb_a_ == vb_b_))                                                                     \
            vbtest::fail(__FILE__, __LINE__, vbtest::describe(#a " == " #b, vb_a_, vb_b_));        \
    } while (0)
// Stops the case: what follows depends on it.
#define VB_REQUIRE(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            vbtest::fail(__FILE__, __LINE__, #cond);                                               \
            return;                                                                                \
        }                                                                                          \
    } while (0)

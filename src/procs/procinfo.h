// SPDX-License-Identifier: GPL-3.0-or-later
// One row of a boost list: the process or service as judges see it, plus the list's state.
#pragma once

#include "procs/procids.h"

#include <QList>
#include <QMetaType>
#include <QtGlobal>

#include <memory>
#include <string>

enum JudgeResult : int32_t {
    JR_NONE = 0,     // no opinion: ask the next judge
    JR_Advice = 1,   // listed under "Advice", ticked
    JR_Optional = 2, // listed under "Optional", not ticked
    JR_White = 3,    // never listed
};

enum ProcItemKind : int32_t {
    PK_AdviceHeader = 0,
    PK_OptionalHeader = 1,
    PK_Process = 2,
    PK_MemoryRelease = 3, // added by the fix worker for the memory it freed; never shown
};

struct ProcInfo
{
    vb::platform::ProcessId pid = 0; // for a service: the process that hosts it
    std::wstring path;               // the image's full path; empty in header rows
    quint64 memory = 0;              // working set in bytes; in a header row, the group's total
    JudgeResult group = JR_NONE;
    bool isService = false;
    std::wstring serviceName; // key name; empty for processes
    std::wstring displayName; // empty for processes and services without one
    // When the process started (0: unknown): with pid it names the one process that was
    // listed, so a fix never hits a later process that was given the same id.
    quint64 startTime = 0;

    ProcInfo() = default;
    // A candidate: a service exactly when serviceName is given; its display name is kept only
    // then.
    ProcInfo(vb::platform::ProcessId pid, const std::wstring& path, quint64 memory,
             const wchar_t* serviceName, const wchar_t* displayName);
};

struct ProcListItem : ProcInfo
{
    ProcItemKind kind = PK_Process;
    bool select = false;
    bool fixed = false;

    ProcListItem() = default;
    ProcListItem(const ProcInfo& info, ProcItemKind kind, bool select)
        : ProcInfo(info), kind(kind), select(select)
    {}
    // A group header carrying the group's memory total.
    static ProcListItem header(ProcItemKind kind, quint64 total);
};

// A snapshot of rows as it crosses threads: nobody changes it once made; a receiver that must
// change rows copies them.
using ProcListItems_ptr = std::shared_ptr<const QList<ProcListItem>>;
Q_DECLARE_METATYPE(ProcListItems_ptr)

// Registers the snapshot handle with Qt's meta-type system under its own name (once is
// enough; queued signals carrying it need it).
void registerProcMetaTypes();

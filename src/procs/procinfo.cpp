// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procinfo.h"

ProcInfo::ProcInfo(vb::platform::ProcessId pid, const std::wstring& path, quint64 memory,
                   const wchar_t* serviceName, const wchar_t* displayName)
    : pid(pid), path(path), memory(memory), isService(serviceName != nullptr)
{
    if (serviceName) {
        this->serviceName = serviceName;
        if (displayName)
            this->displayName = displayName;
    }
}

ProcListItem ProcListItem::header(ProcItemKind kind, quint64 total)
{
    ProcListItem h;
    h.kind = kind;
    h.memory = total;
    return h;
}

void registerProcMetaTypes()
{
    qRegisterMetaType<ProcListItems_ptr>("ProcListItems_ptr");
}

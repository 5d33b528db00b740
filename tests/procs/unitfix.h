// SPDX-License-Identifier: GPL-3.0-or-later
// Fixes of hand-made unit rows against a real service manager, shared by the box's tests.
#pragma once

#include "procs/procdatalist.h"

#include <QPair>
#include <QSignalSpy>
#include <QString>

#include <memory>

namespace vb::test {

// A ticked (or not) row for a unit, whatever process hosts it.
inline ProcListItem unitRow(const char* unit, bool ticked = true)
{
    const std::wstring name = QString::fromLatin1(unit).toStdWString();
    return ProcListItem(ProcInfo(0, L"/bin/sleep", 1000, name.c_str(), nullptr), PK_Process,
                        ticked);
}

inline std::unique_ptr<ProcDataList> listOf(const vb::platform::Platform& backends,
                                            QList<ProcListItem> rows)
{
    auto l = std::make_unique<ProcDataList>(std::shared_ptr<IProcessJudge>(), nullptr, backends);
    l->swapItems(rows);
    return l;
}

// One fix of the list to its end: count and bytes; ~0 when no result came within the bound.
inline QPair<uint, quint64> fixOf(ProcDataList& list, bool releaseMemory = false,
                                  int boundMs = 30000)
{
    QSignalSpy result(&list, &ProcDataList::fixResultChanged);
    list.beginFix(releaseMemory);
    if (!result.wait(boundMs))
        return {~0u, 0};
    return {result[0][0].toUInt(), result[0][1].toULongLong()};
}

} // namespace vb::test

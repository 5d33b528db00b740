// SPDX-License-Identifier: GPL-3.0-or-later
// The enumeration pass of a boost list: candidates measured, named, judged and grouped into
// "Advice" and "Optional" rows.
#pragma once

#include "platform/platform.h"
#include "procs/processjudge.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using ProcJudges_ptr = std::shared_ptr<std::vector<std::shared_ptr<IProcessJudge>>>;
// Given a new row: false keeps the default tick, or true with the tick to use written.
using KeepChoiceFn = std::function<bool(bool*, const ProcListItem&)>;
// Device prefix (as the kernel names an image) to the prefix the user knows ("C:"); on Linux
// the one empty prefix maps every absolute path to itself.
using DeviceDriveMap = std::map<std::wstring, std::wstring>;

// The one white-list judge every list asks first; lives from library load to unload. The
// library's load hook makes it on the native backends (it outlives every ball, so it cannot
// share a ball's), and it holds them itself so that judge() stays the call every list makes.
// Empty where nothing made one (a test sets its own).
extern std::shared_ptr<IProcessJudge> systemWhiteJudge;

DeviceDriveMap buildDeviceDriveMap(const std::shared_ptr<vb::platform::IVolumes>& volumes);
// The user's form of a device path: the first prefix in key order that the path starts with
// (any case), followed by a separator or the end. False when none fits.
bool mapDevicePath(const DeviceDriveMap& map, const std::wstring& devicePath, std::wstring& out);

// One pass's state; addCandidate is the candidate function the pass hands to enumCandidates.
class ProcessEnumerator : public QObject
{
    Q_OBJECT
public:
    // Takes the processes, volumes, services and windows backends from the bundle.
    ProcessEnumerator(const vb::platform::Platform& backends, ProcJudges_ptr judges,
                      KeepChoiceFn keep);
    // service: what the manager knows of a service candidate (its image and memory stand in
    // for the process's own where this user may not read them); null for a windowed process.
    void addCandidate(vb::platform::ProcessId pid, const wchar_t* serviceName,
                      const wchar_t* displayName,
                      const vb::platform::ServiceInfo* service = nullptr);
    // Runs the whole pass; the result is never an empty pointer.
    ProcListItems_ptr run();

private:
    std::shared_ptr<vb::platform::IProcesses> m_processes;
    std::shared_ptr<vb::platform::IVolumes> m_volumes;
    std::shared_ptr<vb::platform::IServices> m_services;
    std::shared_ptr<vb::platform::ITopLevelWindows> m_windows;
    ProcJudges_ptr m_judges;
    KeepChoiceFn m_keep;
    DeviceDriveMap m_drives;
    QList<ProcListItem> m_advice, m_optional;
    quint64 m_adviceTotal = 0, m_optionalTotal = 0;
};

ProcListItems_ptr enumerateProcItems(const vb::platform::Platform& backends, ProcJudges_ptr judges,
                                     KeepChoiceFn keep);

// What a list's refresh asks of a pass: the white judge first, then the list's own.
ProcJudges_ptr passJudges(const std::shared_ptr<IProcessJudge>& ownJudge);
// The tick rule that carries the user's ticks over by process id: unticked advice stays
// unticked, ticked options stay ticked.
KeepChoiceFn keepChoicesOf(const QList<ProcListItem>& current);
// A list's whole refresh from its rows: judges, tick rule and pass.
ProcListItems_ptr enumerateForList(const vb::platform::Platform& backends,
                                   const std::shared_ptr<IProcessJudge>& ownJudge,
                                   const QList<ProcListItem>& current);

// Replies of an asynchronous pass; the passes of this system run synchronously, so nothing
// creates them, but a list may hold one.
class EnumNotifyer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void enumOver(ProcListItems_ptr items, int status);
};

class EnumReply : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void enumOver(ProcListItems_ptr items, int status);
public Q_SLOTS:
    void onEnumOver(ProcListItems_ptr items, int status) { Q_EMIT enumOver(items, status); }
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procenum.h"

#include "core/logging.h"
#include "procs/candidates.h"

#include <QFile>

#include <cwctype>

std::shared_ptr<IProcessJudge> systemWhiteJudge;

namespace {
std::wstring wideOf(const std::string& s)
{
    return QString::fromStdString(s).toStdWString();
}

// Every judge sees endJudge() once the pass is over, however it ends.
class JudgingScope
{
public:
    explicit JudgingScope(const ProcJudges_ptr& judges) : m_judges(judges)
    {
        if (m_judges)
            for (const auto& j : *m_judges)
                if (j)
                    j->beginJudge();
    }
    ~JudgingScope()
    {
        if (m_judges)
            for (const auto& j : *m_judges)
                if (j)
                    j->endJudge();
    }
    JudgingScope(const JudgingScope&) = delete;
    JudgingScope& operator=(const JudgingScope&) = delete;

private:
    ProcJudges_ptr m_judges;
};
} // namespace

DeviceDriveMap buildDeviceDriveMap(const std::shared_ptr<vb::platform::IVolumes>& volumes)
{
    DeviceDriveMap map;
    if (!volumes)
        return map;
    for (const auto& pair : volumes->driveMap())
        map.emplace(wideOf(pair.first),
                    wideOf(pair.second)); // an existing key keeps its first drive
    return map;
}

bool mapDevicePath(const DeviceDriveMap& map, const std::wstring& devicePath, std::wstring& out)
{
    for (const auto& entry : map) {
        const std::wstring& key = entry.first;
        if (key.size() > devicePath.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < key.size() && same; ++i)
            same = std::towlower(static_cast<wint_t>(key[i])) ==
                   std::towlower(static_cast<wint_t>(devicePath[i]));
        if (!same)
            continue;
        if (key.size() < devicePath.size() && devicePath[key.size()] != L'\\' &&
            devicePath[key.size()] != L'/')
            continue;
        if (key.empty() && devicePath.empty())
            continue; // no path at all is nobody's image
        out = entry.second + devicePath.substr(key.size());
        return true;
    }
    return false;
}

ProcessEnumerator::ProcessEnumerator(const vb::platform::Platform& backends, ProcJudges_ptr judges,
                                     KeepChoiceFn keep)
    : m_processes(backends.processes), m_volumes(backends.volumes), m_services(backends.services),
      m_windows(backends.windows), m_judges(std::move(judges)), m_keep(std::move(keep))
{}

void ProcessEnumerator::addCandidate(vb::platform::ProcessId pid, const wchar_t* serviceName,
                                     const wchar_t* displayName,
                                     const vb::platform::ServiceInfo* service)
{
    if (pid < 5)
        return; // the idle and system processes
    const std::shared_ptr<vb::platform::IProcesses>& procs = m_processes;
    if (!procs)
        return;
    // An ordinary user may not open a system service's process; its manager, which started
    // it, still names its image, and the rest comes from what every user may read.
    const bool managerNames = serviceName && service && !service->imagePath.empty();
    // One record per candidate: each of the process's files is read once, and its image only
    // when the process was not met before. The start time comes first: should the id pass to
    // another process meanwhile, the fix finds a different start and leaves it alone.
    vb::platform::ProcessRecord rec = procs->record(pid);
    const uint32_t err = rec.access;
    if (err && !(err == vb::platform::ErrAccessDenied && managerNames)) {
        qCDebug(lcProcs) << "[-------OpenProcess------]" << err;
        return;
    }
    if (err) {
        rec.startTime = procs->startTime(pid);
        rec.workingSetBytes = procs->workingSetBytes(pid);
        if (!rec.workingSetBytes)
            rec.workingSetBytes = service->memoryBytes;
        rec.imagePath = service->imagePath;
    }
    // The process may end at any point: every part that could not be read drops it.
    if (!rec.workingSetBytes || rec.imagePath.empty())
        return;
    const uint64_t started = rec.startTime;
    const uint64_t memory = *rec.workingSetBytes;
    const std::string& image = rec.imagePath;
    std::wstring path;
    if (!mapDevicePath(m_drives, QFile::decodeName(QByteArray::fromStdString(image)).toStdWString(),
                       path))
        return; // a volume without a drive, a network path

    ProcInfo info(pid, path, memory, serviceName, displayName);
    info.startTime = started;
    JudgeResult verdict = JR_NONE;
    if (m_judges)
        for (const auto& j : *m_judges) {
            if (!j)
                continue;
            verdict = j->judge(info);
            if (verdict != JR_NONE)
                break;
        }
    if (verdict != JR_Advice && verdict != JR_Optional)
        return;
    info.group = verdict;
    ProcListItem row(info, PK_Process, verdict == JR_Advice);
    bool tick = row.select;
    if (m_keep && m_keep(&tick, row))
        row.select = tick;
    if (verdict == JR_Advice) {
        m_advice.append(row);
        m_adviceTotal += row.memory;
    } else {
        m_optional.append(row);
        m_optionalTotal += row.memory;
    }
}

ProcListItems_ptr ProcessEnumerator::run()
{
    m_drives = buildDeviceDriveMap(m_volumes);
    m_advice.clear();
    m_optional.clear();
    m_adviceTotal = m_optionalTotal = 0;
    {
        JudgingScope scope(m_judges);
        enumCandidates(m_services, m_windows,
                       [this](vb::platform::ProcessId pid, const wchar_t* name,
                              const wchar_t* display, const vb::platform::ServiceInfo* service) {
                           addCandidate(pid, name, display, service);
                       });
    }
    auto result = std::make_shared<QList<ProcListItem>>();
    if (!m_advice.isEmpty()) {
        result->append(ProcListItem::header(PK_AdviceHeader, m_adviceTotal));
        result->append(m_advice);
    }
    if (!m_optional.isEmpty()) {
        result->append(ProcListItem::header(PK_OptionalHeader, m_optionalTotal));
        result->append(m_optional);
    }
    m_drives.clear(); // built per pass, never kept
    if (m_processes)
        m_processes->passEnded();
    return result;
}

ProcListItems_ptr enumerateProcItems(const vb::platform::Platform& backends, ProcJudges_ptr judges,
                                     KeepChoiceFn keep)
{
    ProcessEnumerator pass(backends, std::move(judges), std::move(keep));
    return pass.run();
}

ProcJudges_ptr passJudges(const std::shared_ptr<IProcessJudge>& ownJudge)
{
    auto judges = std::make_shared<std::vector<std::shared_ptr<IProcessJudge>>>();
    judges->push_back(systemWhiteJudge);
    if (ownJudge)
        judges->push_back(ownJudge);
    return judges;
}

KeepChoiceFn keepChoicesOf(const QList<ProcListItem>& current)
{
    auto uncheckedAdvice = std::make_shared<std::set<vb::platform::ProcessId>>();
    auto checkedOptional = std::make_shared<std::set<vb::platform::ProcessId>>();
    for (const ProcListItem& r : current) {
        if (r.group == JR_Advice && !r.select)
            uncheckedAdvice->insert(r.pid);
        else if (r.group == JR_Optional && r.select)
            checkedOptional->insert(r.pid);
    }
    return [uncheckedAdvice, checkedOptional](bool* tick, const ProcListItem& row) {
        if (!tick)
            return false;
        if (row.group == JR_Advice && uncheckedAdvice->count(row.pid)) {
            *tick = false;
            return true;
        }
        if (row.group == JR_Optional && checkedOptional->count(row.pid)) {
            *tick = true;
            return true;
        }
        return false;
    };
}

ProcListItems_ptr enumerateForList(const vb::platform::Platform& backends,
                                   const std::shared_ptr<IProcessJudge>& ownJudge,
                                   const QList<ProcListItem>& current)
{
    return enumerateProcItems(backends, passJudges(ownJudge), keepChoicesOf(current));
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/flowdataproc.h"

#include "flow/psfilter.h"

#include <boost/shared_ptr.hpp>
#include <boost/smart_ptr/make_shared.hpp>

#include <new>

namespace {

// The published map; readers on any thread see a complete one, and a published map is never
// changed again.
boost::shared_ptr<ProcessPathMap> g_cache;

bool isSystemPath(const QString& path)
{
    return path.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0;
}

} // namespace

FlowDataProc::FlowDataProc(quint64 pid_, uint connectionCount_, quint64 flowIn_,
                           quint64 flowInDelta_, quint64 flowOut_, quint64 flowOutDelta_,
                           uint intervalMs_, bool dead_, const ProcessPathSource& paths)
    : pid(pid_), path(QString::fromStdWString(processPath(pid_, paths))), flowIn(flowIn_),
      flowInDelta(flowInDelta_), flowOut(flowOut_), flowOutDelta(flowOutDelta_),
      connectionCount(connectionCount_), intervalMs(intervalMs_), dead(dead_),
      system(isSystemPath(path))
{}

boost::shared_ptr<ProcessPathMap> refreshProcessPaths(const ProcessPathSource& source)
{
    boost::shared_ptr<ProcessPathMap> map;
    try {
        map = boost::make_shared<ProcessPathMap>();
    } catch (const std::bad_alloc&) {
        return map;
    }
    {
        PSFilter filter(source.device, source.volumes);
        // emplace keeps the first path when an id is reported twice.
        filter.queryProcessPaths(
            [&map](quint64 pid, const std::wstring& path) { map->emplace(pid, path); });
    }
    boost::atomic_store(&g_cache, map);
    return boost::atomic_load(&g_cache);
}

std::wstring processPath(quint64 pid, const ProcessPathSource& source)
{
    boost::shared_ptr<ProcessPathMap> map = boost::atomic_load(&g_cache);
    if (!map) {
        map = refreshProcessPaths(source);
        if (!map)
            return std::wstring();
    }
    auto it = map->find(pid);
    if (it != map->end())
        return it->second;
    // A process started after the last refresh.
    map = refreshProcessPaths(source);
    if (!map)
        return std::wstring();
    it = map->find(pid);
    return it != map->end() ? it->second : std::wstring();
}

void resetProcessPathCache()
{
    boost::atomic_store(&g_cache, boost::shared_ptr<ProcessPathMap>());
}

// SPDX-License-Identifier: GPL-3.0-or-later
// One process's row of a traffic sample, and the process path cache that names the rows.
#pragma once

#include "platform/filterdevice.h"
#include "platform/volumes.h"

#include <QList>
#include <QString>

#include <boost/shared_ptr.hpp>

#include <map>
#include <memory>
#include <string>

// Where the process path cache reads a new map: the filter device, its paths named through
// the volume map. Without a device a refresh finds no paths.
struct ProcessPathSource
{
    std::shared_ptr<vb::platform::IFilterDevice> device;
    std::shared_ptr<vb::platform::IVolumes> volumes;
};

class FlowDataProc
{
public:
    FlowDataProc() = default;
    // Looks the path up in the process path cache (which may ask the source's filter device).
    FlowDataProc(quint64 pid, uint connectionCount, quint64 flowIn, quint64 flowInDelta,
                 quint64 flowOut, quint64 flowOutDelta, uint intervalMs, bool dead,
                 const ProcessPathSource& paths = {});

    quint64 pid = 0;
    QString path;
    quint64 flowIn = 0;
    quint64 flowInDelta = 0;
    quint64 flowOut = 0;
    quint64 flowOutDelta = 0;
    uint connectionCount = 0;
    uint intervalMs = 0;
    bool dead = false;
    bool system = false;
};

using FlowDataList_ptr = std::shared_ptr<const QList<FlowDataProc>>;

using ProcessPathMap = std::map<quint64, std::wstring>;

// The image path of a process in drive-letter form, or empty. Refreshes the cache from the
// source's filter device when it has no map yet or does not know the id.
std::wstring processPath(quint64 pid, const ProcessPathSource& source);
// Builds a new map from the source's filter device, publishes it and returns it.
boost::shared_ptr<ProcessPathMap> refreshProcessPaths(const ProcessPathSource& source);
// Drops the published map, so the next lookup starts afresh (tests).
void resetProcessPathCache();

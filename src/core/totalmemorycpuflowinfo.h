// SPDX-License-Identifier: GPL-3.0-or-later
// One sample's system-wide figures: memory and CPU from the usage sampler, traffic totals
// from the sampling worker. Immutable once emitted.
#pragma once

#include <QMetaType>
#include <QtGlobal>

#include <memory>

struct TotalMemoryCpuFlowInfo
{
    quint32 memoryLoad = 0;   // percent
    quint64 availPhys = 0;    // bytes
    quint32 cpuUsage = 0;     // percent
    quint64 flowIn = 0;       // bytes received, cumulative
    quint64 flowInDelta = 0;  // bytes received during this interval
    quint64 flowOut = 0;      // bytes sent, cumulative
    quint64 flowOutDelta = 0; // bytes sent during this interval
    quint32 intervalMs = 0;   // since the previous traffic sample; 0 for the first one
};

using TotalMemoryCpuFlowInfo_ptr = std::shared_ptr<const TotalMemoryCpuFlowInfo>;

Q_DECLARE_METATYPE(TotalMemoryCpuFlowInfo_ptr)

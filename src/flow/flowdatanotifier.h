// SPDX-License-Identifier: GPL-3.0-or-later
// The one sampling worker: every second memory, CPU, per-process traffic and the connection
// state, handed to the traffic model through queued signals; and a nudge to the boost lists
// whenever a process started or ended.
#pragma once

#include "core/totalmemorycpuflowinfo.h"
#include "flow/flowaggregate.h"
#include "flow/flowdataproc.h"
#include "flow/processsetwatcher.h"
#include "flow/psfilter.h"

#include <QObject>

#include <boost/thread/thread.hpp>

#include <map>
#include <memory>
#include <vector>

namespace vb::platform {
class ISystemMemory;
class INetworkState;
struct Platform;
} // namespace vb::platform

Q_DECLARE_METATYPE(FlowDataList_ptr)

// Makes both snapshot pointer types usable in queued connections; safe to call repeatedly.
void registerFlowMetaTypes();

class FlowDataNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void dataFound(FlowDataList_ptr list, TotalMemoryCpuFlowInfo_ptr info, bool connected);
    void processChanged();
};

// Turns one reading of the connection list into per-process rows with the deltas against the
// previous reading, and fills the sample's traffic totals.
class TrafficSampleBuilder
{
public:
    // Rows find their paths through the given source.
    explicit TrafficSampleBuilder(ProcessPathSource paths = {}) : m_paths(std::move(paths)) {}
    // Starts a reading: forgets the connections of an unfinished one.
    void begin();
    void addConnection(const ConnectionDataItem& item);
    // The first history entry of a process counts; later ones for the same id are ignored.
    void addHistory(const ConnectionDataHistoryItem& item);
    // Rows of the reading (live processes by id, then dead ones by id); fills the traffic
    // fields of info and makes this reading the previous one.
    FlowDataList_ptr finish(uint32_t nowMs, TotalMemoryCpuFlowInfo& info);
    // Forgets the previous reading (the device went away and came back).
    void reset();

private:
    ProcessPathSource m_paths;
    std::vector<ConnectionDataItem> m_live;
    std::map<quint64, ConnectionDataHistoryItem> m_history;
    FlowAggregateMap m_previous;
    uint32_t m_previousTickMs = 0;
    bool m_havePrevious = false;
};

// What the worker reads. The worker takes it as it is: fillFrom() first gives every empty
// member its piece of a backend bundle; what stays empty is absent (no device, no figures).
struct FlowSamplingSetup
{
    std::function<std::unique_ptr<PSFilter>()> openFilter;
    std::shared_ptr<vb::platform::ISystemMemory> memory;
    std::shared_ptr<vb::platform::INetworkState> network;
    ProcessSetWatcher::Enumerate enumerate;
    // Spares reading the ids while no process came or went; fillFrom() sets it only beside an
    // enumerate of the same backend.
    ProcessSetWatcher::Stamp taskStamp;
    ProcessPathSource paths;
    std::function<bool()> provision;
    // Reads the user configuration once at start (the process judges use it).
    std::function<void()> loadConfig;
    int periodMs = 1000;

    void fillFrom(const vb::platform::Platform& backends);
};

// The sampling loop; returns only when its thread is interrupted.
void runFlowSampling(std::shared_ptr<FlowDataNotifier> notifier, FlowSamplingSetup setup);
// Starts the loop on a new thread that holds the notifier and the setup's backends.
boost::thread startFlowSampling(std::shared_ptr<FlowDataNotifier> notifier,
                                FlowSamplingSetup setup);

// SPDX-License-Identifier: GPL-3.0-or-later
// One sample's per-process rows from the filter's connection list: live connections grouped
// by process with the process's history added, dead rows for processes with history only, and
// the growth against the previous sample.
#pragma once

#include "flow/flowdataproc.h"
#include "flow/psfilter.h"

#include <map>
#include <vector>

struct FlowAggregate
{
    uint connectionCount = 0;
    quint64 flowIn = 0;
    quint64 flowOut = 0;
};

using FlowAggregateMap = std::map<quint64, FlowAggregate>;

struct FlowSample
{
    FlowDataList_ptr rows;
    quint64 flowIn = 0;
    quint64 flowInDelta = 0;
    quint64 flowOut = 0;
    quint64 flowOutDelta = 0;
    // This sample's live processes: the next sample's previous one (dead rows are not in it).
    FlowAggregateMap current;
};

// live: the live connections in arrival order; history: one entry per process (the first
// reported); previous: the last sample's aggregates; intervalMs: time since the last sample, 0
// when there is none; paths: where rows find their paths. Rows: live processes by ascending id,
// then dead ones by ascending id.
FlowSample aggregateFlows(const std::vector<ConnectionDataItem>& live,
                          const std::map<quint64, ConnectionDataHistoryItem>& history,
                          const FlowAggregateMap& previous, uint intervalMs,
                          const ProcessPathSource& paths = {});

// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/flowaggregate.h"

namespace {

// A counter that went backwards (a history entry the filter dropped) grows by nothing.
quint64 growth(quint64 now, quint64 before)
{
    return now > before ? now - before : 0;
}

} // namespace

FlowSample aggregateFlows(const std::vector<ConnectionDataItem>& live,
                          const std::map<quint64, ConnectionDataHistoryItem>& history,
                          const FlowAggregateMap& previous, uint intervalMs,
                          const ProcessPathSource& paths)
{
    FlowSample sample;
    for (const ConnectionDataItem& c : live) {
        FlowAggregate& a = sample.current[c.processId];
        ++a.connectionCount;
        a.flowIn += c.bytesIn;
        a.flowOut += c.bytesOut;
    }
    for (auto& [pid, a] : sample.current) {
        auto h = history.find(pid);
        if (h != history.end()) {
            a.flowIn += h->second.bytesIn;
            a.flowOut += h->second.bytesOut;
        }
    }
    // Filled here, then shared read-only.
    auto rows = std::make_shared<QList<FlowDataProc>>();
    for (const auto& [pid, a] : sample.current) {
        auto before = previous.find(pid);
        if (before != previous.end()) {
            const quint64 inDelta = growth(a.flowIn, before->second.flowIn);
            const quint64 outDelta = growth(a.flowOut, before->second.flowOut);
            rows->append(FlowDataProc(pid, a.connectionCount, a.flowIn, inDelta, a.flowOut,
                                      outDelta, intervalMs, false, paths));
            sample.flowInDelta += inDelta;
            sample.flowOutDelta += outDelta;
        } else {
            // New to the list: its first row shows no speed.
            rows->append(FlowDataProc(pid, a.connectionCount, a.flowIn, 0, a.flowOut, 0, intervalMs,
                                      false, paths));
        }
        sample.flowIn += a.flowIn;
        sample.flowOut += a.flowOut;
    }
    for (const auto& [pid, h] : history) {
        if (sample.current.count(pid))
            continue;
        sample.flowIn += h.bytesIn;
        sample.flowOut += h.bytesOut;
        rows->append(FlowDataProc(pid, 0, h.bytesIn, 0, h.bytesOut, 0, 0, true, paths));
    }
    sample.rows = std::move(rows);
    return sample;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/flowdatanotifier.h"

#include "core/logging.h"
#include "core/threadhandoff.h"
#include "memory/systemusagesampler.h"
#include "platform/platform.h"
#include "procs/processjudge.h"

#include <boost/chrono.hpp>

#include <mutex>

#if defined(__linux__)
#include <pthread.h>
#include <sys/prctl.h>
#endif

void registerFlowMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<FlowDataList_ptr>("FlowDataList_ptr");
        qRegisterMetaType<TotalMemoryCpuFlowInfo_ptr>("TotalMemoryCpuFlowInfo_ptr");
    });
}

// --- one reading of the connection list ---

void TrafficSampleBuilder::begin()
{
    m_live.clear();
    m_history.clear();
}

void TrafficSampleBuilder::addConnection(const ConnectionDataItem& item)
{
    m_live.push_back(item);
}

void TrafficSampleBuilder::addHistory(const ConnectionDataHistoryItem& item)
{
    m_history.emplace(item.processId, item);
}

FlowDataList_ptr TrafficSampleBuilder::finish(uint32_t nowMs, TotalMemoryCpuFlowInfo& info)
{
    // Unsigned subtraction: the tick counter's wrap after 49.7 days does no harm.
    const uint32_t interval = m_havePrevious ? nowMs - m_previousTickMs : 0;
    FlowSample sample = aggregateFlows(m_live, m_history, m_previous, interval, m_paths);
    info.intervalMs = interval;
    info.flowIn += sample.flowIn;
    info.flowInDelta += sample.flowInDelta;
    info.flowOut += sample.flowOut;
    info.flowOutDelta += sample.flowOutDelta;
    // Processes known only by their history are not carried over: a new connection of theirs
    // starts again at speed 0.
    m_previous.swap(sample.current);
    m_previousTickMs = nowMs;
    m_havePrevious = true;
    begin();
    return sample.rows;
}

void TrafficSampleBuilder::reset()
{
    begin();
    m_previous.clear();
    m_havePrevious = false;
}

// --- the loop ---

void FlowSamplingSetup::fillFrom(const vb::platform::Platform& backends)
{
    if (!openFilter)
        openFilter = [device = backends.filterDevice, volumes = backends.volumes] {
            return std::make_unique<PSFilter>(device, volumes);
        };
    if (!memory)
        memory = backends.memory;
    if (!network)
        network = backends.network;
    if (!enumerate) {
        enumerate = processIdsOf(backends.processes);
        if (!taskStamp)
            taskStamp = taskStampOf(backends.processes);
    }
    if (!paths.device && !paths.volumes)
        paths = ProcessPathSource{backends.filterDevice, backends.volumes};
    if (!provision)
        provision = [backends] { return attemptDriverProvisioning(backends); };
}

namespace {

void sleepMs(int ms)
{
    boost::this_thread::sleep_for(boost::chrono::milliseconds(ms));
}

// The period need not be exact, since speeds divide by the measured interval: the kernel may
// wake the worker up to a twentieth of a period late, together with wake-ups that are due
// anyway, rather than wake an idle machine for it alone (Qt's coarse timers allow as much).
void allowLateWakeups(int periodMs)
{
#if defined(__linux__)
    if (periodMs > 0)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(periodMs) * 1000000UL / 20, 0UL, 0UL,
                0UL);
#else
    (void)periodMs;
#endif
}

bool connectedNow(const std::shared_ptr<vb::platform::INetworkState>& network)
{
    return network && network->isConnected();
}

} // namespace

void runFlowSampling(std::shared_ptr<FlowDataNotifier> notifier, FlowSamplingSetup setup)
{
    registerFlowMetaTypes();
    allowLateWakeups(setup.periodMs);
    if (!setup.openFilter)
        setup.openFilter = [] { return std::make_unique<PSFilter>(nullptr); };
    if (!setup.provision)
        setup.provision = [] { return false; };
    if (!setup.loadConfig)
        setup.loadConfig = [] { loadUserConfig(); }; // the judges read what it publishes
    const std::shared_ptr<vb::platform::ISystemMemory> memory = setup.memory;
    const auto tick = [memory]() { return tickCountMs(memory); };

    std::unique_ptr<PSFilter> filter = setup.openFilter();
    TrafficSampleBuilder builder(setup.paths);
    SystemUsageSampler sampler(setup.memory);
    sampler.prime();
    ProcessSetWatcher watcher(setup.enumerate, tick, setup.taskStamp);
    watcher.start();
    watcher.changed();
    if (setup.loadConfig)
        setup.loadConfig();

    bool traffic = filter->accessMode() != 0;
    for (;;) {
        boost::this_thread::interruption_point();
        if (!traffic) {
            setup.provision();
            sleepMs(setup.periodMs);
            const bool connected = connectedNow(setup.network);
            const TotalMemoryCpuFlowInfo_ptr sample = sampler.sample();
            {
                [[maybe_unused]] const vb::core::HandoffEmit handoff;
                Q_EMIT notifier->dataFound(FlowDataList_ptr(), sample, connected);
            }
            if (watcher.changed())
                Q_EMIT notifier->processChanged();
            if (filter->accessMode() != 0) {
                qCDebug(lcFlow) << "traffic sampler: the filter device is reachable";
                builder.reset();
                traffic = true;
            }
            continue;
        }

        sleepMs(setup.periodMs);
        const TotalMemoryCpuFlowInfo_ptr sampled = sampler.sample();
        if (!sampled)
            continue;
        // Samples are shared read-only; this cycle adds its traffic to its own copy.
        const auto info = std::make_shared<TotalMemoryCpuFlowInfo>(*sampled);
        builder.begin();
        const bool read = filter->queryConnections(
            [&builder](const ConnectionDataItem& c) { builder.addConnection(c); },
            [&builder](const ConnectionDataHistoryItem& h) { builder.addHistory(h); });
        if (!read) {
            // A failed read is skipped, unless the device itself is gone (its service stopped
            // or died): then memory and CPU would freeze with the last traffic rows on show.
            // Look with a fresh connection; without one, clear the rows and carry on as
            // without a device until it comes back.
            filter = setup.openFilter();
            if (filter->accessMode() != 0)
                continue;
            qCWarning(lcFlow) << "traffic sampler: the filter device went away";
            traffic = false;
            const bool connected = connectedNow(setup.network);
            const auto noRows = std::make_shared<QList<FlowDataProc>>();
            {
                [[maybe_unused]] const vb::core::HandoffEmit handoff;
                Q_EMIT notifier->dataFound(noRows, info, connected);
            }
            if (watcher.changed())
                Q_EMIT notifier->processChanged();
            continue;
        }
        FlowDataList_ptr rows = builder.finish(tick(), *info);
        const bool connected = connectedNow(setup.network);
        {
            [[maybe_unused]] const vb::core::HandoffEmit handoff;
            Q_EMIT notifier->dataFound(rows, info, connected);
        }
        if (watcher.changed())
            Q_EMIT notifier->processChanged();
    }
}

boost::thread startFlowSampling(std::shared_ptr<FlowDataNotifier> notifier, FlowSamplingSetup setup)
{
    registerFlowMetaTypes();
    // The thread owns its copy of the setup, and with it every backend it reads.
    return boost::thread([notifier, setup]() mutable {
#if defined(__linux__)
        // Named so that top and the idle benchmark can tell its cost from the GUI thread's.
        pthread_setname_np(pthread_self(), "vb-sampler");
#endif
        try {
            runFlowSampling(notifier, std::move(setup));
        } catch (const boost::thread_interrupted&) {
            // asked to stop
        }
    });
}

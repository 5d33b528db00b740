// SPDX-License-Identifier: GPL-3.0-or-later
// The process side of a desktop on the fake backend, as the boost lists and their fixes see it,
// and the user's configuration the judges read.
#pragma once

#include "platform/fake/fakememory.h"
#include "platform/fake/fakeprocs.h"
#include "platform/fake/fakevolumes.h"
#include "platform/platform.h"
#include "procs/processjudge.h"

#include <QLatin1String>

#include <initializer_list>

namespace vb::test {

// Publishes a fresh user configuration of (key, flags) lines; none clears it. A published
// configuration is never changed, so every call makes a new one.
inline void publishUserConfig(std::initializer_list<std::pair<const char*, uint>> lines = {})
{
    boost::shared_ptr<JudgeUserConfig> config;
    if (lines.size() != 0) {
        config.reset(new JudgeUserConfig);
        for (const auto& l : lines)
            config->add(QLatin1String(l.first), l.second);
    }
    boost::atomic_store(&currentUserConfig, config);
}

struct ProcessFakes
{
    std::shared_ptr<vb::platform::fake::FakeProcesses> procs =
        std::make_shared<vb::platform::fake::FakeProcesses>();
    std::shared_ptr<vb::platform::fake::FakeServices> services =
        std::make_shared<vb::platform::fake::FakeServices>();
    std::shared_ptr<vb::platform::fake::FakeWindows> windows =
        std::make_shared<vb::platform::fake::FakeWindows>();
    std::shared_ptr<vb::platform::fake::FakeVolumes> volumes =
        std::make_shared<vb::platform::fake::FakeVolumes>();
    std::shared_ptr<vb::platform::fake::FakeSystemMemory> memory =
        std::make_shared<vb::platform::fake::FakeSystemMemory>();
    std::shared_ptr<vb::platform::fake::FakeWorkingSets> workingSets =
        std::make_shared<vb::platform::fake::FakeWorkingSets>();

    // These fakes in place of p's process side.
    vb::platform::Platform into(vb::platform::Platform p = {}) const
    {
        p.processes = procs;
        p.services = services;
        p.windows = windows;
        p.volumes = volumes;
        p.memory = memory;
        p.workingSets = workingSets;
        return p;
    }
    void addProc(vb::platform::ProcessId pid, const std::string& path, uint64_t rss,
                 uint32_t access = 0)
    {
        procs->procs[pid] = {path, rss, access};
    }
    // A running system service and the daemon that hosts it.
    void addService(const char* key, vb::platform::ProcessId host, uint64_t rss)
    {
        services->services.push_back(vb::platform::fake::service(key, host));
        addProc(host, "/usr/sbin/daemon", rss);
    }
};

} // namespace vb::test

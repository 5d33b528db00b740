// SPDX-License-Identifier: GPL-3.0-or-later
//
// Why the existing filter service does the privileged part rather than a helper of its own:
// it already runs as root wherever the ball blocks traffic, already checks every peer through
// the kernel's credentials of its socket, budgets and paces each user, and has its hostile
// clients tested; a second root daemon on the system bus would double what must be trusted.
// It asks polkit before it pages out anything for a user other than root.
#include "platform/linux/releaseworkingsets.h"

#include "filterwire/filterwire.h"
#include "platform/linux/filterclient.h"
#include "platform/linux/kernelfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace vb::platform::linux_ {

namespace wire = vb::filterwire;

ServiceRelease::ServiceRelease(std::string socketDir, int timeoutMs)
    : m_dir(std::move(socketDir)), m_timeoutMs(timeoutMs)
{}

ServiceRelease::Answer ServiceRelease::ask() const
{
    Answer a;
    SocketFilterDevice device(m_dir, m_timeoutMs);
    uint32_t error = 0;
    const auto handle = device.open(false, error);
    if (!handle) {
        a.why =
            error == wire::ErrAccessDenied || error == wire::ErrNotEnoughMemory
                ? "the filter service turned this user away (error " + std::to_string(error) + ")"
                : "the filter service is not running";
        return a;
    }
    std::vector<uint8_t> out;
    size_t got = 0;
    error = handle->control(wire::CodeReleaseMemory, {}, out, wire::ReleaseResultSize, got);
    wire::ReleaseResult r;
    if (error == wire::ErrSuccess && wire::decodeReleaseResult(out.data(), got, r)) {
        a.done = true;
        a.releasedBytes = r.releasedBytes;
        a.processesEmptied = r.processesEmptied;
        return a;
    }
    switch (error) {
    case wire::ErrSuccess:
        a.why = "the filter service answered nonsense";
        break;
    case wire::ErrAccessDenied:
        a.why = "the filter service found the user not authorised";
        break;
    case wire::ErrBusy:
        a.why = "the filter service is busy with another release";
        break;
    case wire::ErrTimeout:
        a.why = "the authorisation was not given in time";
        break;
    case wire::ErrDeviceNotConnected:
        a.why = "the filter service did not answer in time";
        break;
    default:
        a.why = "the filter service refused the release (error " + std::to_string(error) + ")";
    }
    return a;
}

bool ReleaseWorkingSets::mayTouchAll(const std::string& status)
{
    std::istringstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "CapEff:") != 0)
            continue;
        const unsigned long long caps = std::strtoull(line.c_str() + 7, nullptr, 16);
        return (caps >> 23) & 1u; // CAP_SYS_NICE
    }
    return false;
}

ReleaseWorkingSets::Ways ReleaseWorkingSets::waysOfThisProcess()
{
    Ways w;
    w.mayTouchAll = mayTouchAll(readWholeFile("/proc/self/status").value_or(""));
    w.uid = ::getuid();
    w.service = [] { return ServiceRelease().ask(); };
    w.ownGroups = [] { return CgroupReclaim::forThisUser().reclaim(); };
    return w;
}

ReleaseWorkingSets::ReleaseWorkingSets(Ways ways, std::string procRoot)
    : PidfdWorkingSets(procRoot), m_ways(std::move(ways)), m_procRoot(std::move(procRoot))
{}

bool ReleaseWorkingSets::ownedByUser(ProcessId pid) const
{
    struct stat st;
    const std::string dir = m_procRoot + "/" + std::to_string(pid);
    return ::stat(dir.c_str(), &st) == 0 && st.st_uid == m_ways.uid;
}

EmptiedSet ReleaseWorkingSets::emptyWorkingSets(const std::vector<ProcessId>& ids)
{
    if (m_ways.mayTouchAll)
        return PidfdWorkingSets::emptyWorkingSets(ids);
    const ServiceRelease::Answer service =
        m_ways.service ? m_ways.service() : ServiceRelease::Answer{false, 0, 0, "no service"};
    if (service.done)
        return EmptiedSet{service.releasedBytes, service.processesEmptied, {}};

    // The user's own, as far as the kernel lets an unprivileged process reach them.
    EmptiedSet own;
    const CgroupReclaim::Result groups =
        m_ways.ownGroups ? m_ways.ownGroups() : CgroupReclaim::Result{};
    own.releasedBytes += groups.reclaimedBytes;
    std::vector<ProcessId> mine;
    for (const ProcessId pid : ids)
        if (ownedByUser(pid))
            mine.push_back(pid);
    const EmptiedSet paged = PidfdWorkingSets::emptyWorkingSets(mine);
    own.releasedBytes += paged.releasedBytes;
    own.processesEmptied = paged.processesEmptied;

    std::string line = "other users' processes (" + service.why + ")";
    if (!groups.available || groups.groups == 0)
        line += "; the user's control groups (" +
                (groups.why.empty() ? std::string("no reclaim") : groups.why) + ")";
    if (paged.processesEmptied < mine.size())
        line += "; " + std::to_string(mine.size() - paged.processesEmptied) + " of the user's " +
                std::to_string(mine.size()) +
                " processes (the kernel lets an unprivileged process page out only itself, "
                "or nothing before Linux 6.13)";
    own.notReached = line;
    return own;
}

} // namespace vb::platform::linux_

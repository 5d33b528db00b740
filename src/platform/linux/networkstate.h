// SPDX-License-Identifier: GPL-3.0-or-later
// Connected means a way out of the machine: NetworkManager's own verdict when it runs on the
// bus, otherwise a default route in the kernel's routing tables of this network namespace.
#pragma once

#include "platform/network.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace vb::platform::linux_ {

class LinuxNetworkState : public INetworkState
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // busAddress empty: the system bus. Tests pass a private bus of their own, and a clock of
    // their own where the time between two questions matters (empty: the steady clock).
    explicit LinuxNetworkState(const QString& busAddress = QString(), Clock clock = {});
    ~LinuxNetworkState() override;
    bool isConnected() override;

    // NetworkManager's State property, or nullopt when it is not on the bus.
    std::optional<uint32_t> networkManagerState();
    // Whether the kernel has a usable (unicast) IPv4 or IPv6 default route, in any table;
    // nullopt when the routing tables could not be read.
    static std::optional<bool> readDefaultRoute();
    // One netlink route-dump datagram: sets found when it holds a default unicast route and
    // done when it ends the dump. False for a malformed or error datagram.
    static bool scanRouteDump(const uint8_t* data, size_t len, bool& found, bool& done);

    // NetworkManager states from CONNECTED_SITE on have a default route.
    static constexpr uint32_t kNmConnectedSite = 60;
    // NetworkManager's verdict is asked again after a kernel announcement, and at least this
    // often: a change of its state between announcements (its connectivity check, say)
    // reaches the answer no later than this.
    static constexpr std::chrono::seconds kNmTrust{10};

private:
    // Both verdicts are kept until the kernel announces a change of links, addresses or
    // routes (or NetworkManager's has been trusted long enough): a question a second costs
    // a read of a socket, not a bus round trip that wakes NetworkManager and the bus daemon.
    bool drainedChanges(std::chrono::steady_clock::time_point now);

    QString m_connectionName;
    Clock m_clock;
    std::mutex m_mutex;
    int m_changes = -1; // netlink socket subscribed to those announcements, or -1
    bool m_subscribeTried = false;
    std::chrono::steady_clock::time_point m_subscribeAt;
    bool m_routeKnown = false;
    bool m_route = false;
    bool m_nmKnown = false;
    std::optional<uint32_t> m_nm;
    std::chrono::steady_clock::time_point m_nmAt;
};

} // namespace vb::platform::linux_

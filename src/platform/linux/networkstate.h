// SPDX-License-Identifier: GPL-3.0-or-later
// Connected means a way out of the machine: NetworkManager's own verdict when it runs on the
// bus, otherwise a default route in the kernel's routing tables of this network namespace.
#pragma once

#include "platform/network.h"

#include <QDBusConnection>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

namespace vb::platform::linux_ {

class LinuxNetworkState : public INetworkState
{
public:
    // busAddress empty: the system bus. Tests pass a private bus of their own.
    explicit LinuxNetworkState(const QString& busAddress = QString());
    ~LinuxNetworkState() override;
    bool isConnected() override;

    // NetworkManager's State property, or nullopt when it is not on the bus.
    std::optional<uint32_t> networkManagerState();
    // Whether the kernel has a usable (unicast) IPv4 or IPv6 default route, in any table.
    static bool hasDefaultRoute();
    // The same, or nullopt when the routing tables could not be read.
    static std::optional<bool> readDefaultRoute();
    // One netlink route-dump datagram: sets found when it holds a default unicast route and
    // done when it ends the dump. False for a malformed or error datagram.
    static bool scanRouteDump(const uint8_t* data, size_t len, bool& found, bool& done);

    // NetworkManager states from CONNECTED_SITE on have a default route.
    static constexpr uint32_t kNmConnectedSite = 60;

private:
    // hasDefaultRoute(), read again only when the kernel announced a change of links,
    // addresses or routes since the last reading.
    bool defaultRouteNow();

    QString m_connectionName;
    std::mutex m_routeMutex;
    int m_changes = -1; // netlink socket subscribed to those announcements, or -1
    bool m_routeKnown = false;
    bool m_route = false;
};

} // namespace vb::platform::linux_

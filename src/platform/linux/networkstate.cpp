// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/networkstate.h"

#include "core/logging.h"

#include <QAtomicInteger>
#include <QDBusMessage>
#include <QDBusVariant>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace vb::platform::linux_ {

namespace {
const QString kNmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
constexpr int kDbusTimeoutMs = 500;
QAtomicInteger<int> g_connectionSerial;
// Announcements read per cycle before the routes are simply read again.
constexpr int kMaxAnnouncements = 256;

// A netlink socket that hears of every change that can make or break a way out: links going
// up or down (the kernel drops their IPv4 routes without a route announcement), addresses,
// and routes in any table. -1 with errno set when it cannot be had.
int subscribeToChanges()
{
    const int sock = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (sock < 0)
        return -1;
    sockaddr_nl local;
    std::memset(&local, 0, sizeof local);
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                      RTMGRP_IPV6_ROUTE;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(sock);
        errno = error;
        return -1;
    }
    return sock;
}

// Reads what the socket holds without waiting: true when anything was announced, or when
// announcements were lost to a full socket buffer.
bool drainAnnouncements(int sock)
{
    bool any = false;
    char buf[512];
    for (int i = 0; i < kMaxAnnouncements; ++i) {
        // MSG_TRUNC: the content does not matter, only that something came.
        const ssize_t n = ::recv(sock, buf, sizeof buf, MSG_DONTWAIT | MSG_TRUNC);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ENOBUFS) {
            any = true;
            continue;
        }
        return any;
    }
    return true; // still more: a storm of changes, read the routes anyway
}

// Closes the descriptor whatever way the dump ends.
struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool dumpFamily(int sock, unsigned char family, uint32_t seq, bool& found)
{
    struct
    {
        nlmsghdr header;
        rtmsg route;
    } request;
    std::memset(&request, 0, sizeof request);
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = seq;
    request.route.rtm_family = family;
    sockaddr_nl kernel;
    std::memset(&kernel, 0, sizeof kernel);
    kernel.nl_family = AF_NETLINK;
    if (::sendto(sock, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0)
        return false;
    std::vector<uint8_t> buf(32768);
    // A routing table may need many datagrams; a bound loop keeps a misbehaving peer from
    // holding the sampling thread.
    for (int i = 0; i < 4096; ++i) {
        const ssize_t n = ::recv(sock, buf.data(), buf.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bool done = false;
        if (!LinuxNetworkState::scanRouteDump(buf.data(), size_t(n), found, done))
            return false;
        if (done)
            return true;
    }
    return false;
}
} // namespace

LinuxNetworkState::LinuxNetworkState(const QString& busAddress, Clock clock)
    : m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); }))
{
    if (busAddress.isEmpty())
        return;
    m_connectionName =
        QStringLiteral("vb-network-state-%1").arg(g_connectionSerial.fetchAndAddRelaxed(1));
    QDBusConnection::connectToBus(busAddress, m_connectionName);
}

LinuxNetworkState::~LinuxNetworkState()
{
    if (m_changes >= 0)
        ::close(m_changes);
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool LinuxNetworkState::drainedChanges(std::chrono::steady_clock::time_point now)
{
    // Subscribed before the first reading, so no change between the two goes unheard. A
    // refusal (no descriptors left, a sandbox) is said once and tried again now and then,
    // not every second.
    if (m_changes < 0 && (!m_subscribeTried || now - m_subscribeAt >= kNmTrust)) {
        m_changes = subscribeToChanges();
        const int error = errno;
        if (m_changes < 0 && !m_subscribeTried)
            qCWarning(lcPlatform) << "network state: cannot hear of route changes, reading them"
                                  << "at every question:" << std::strerror(error);
        else if (m_changes < 0)
            qCDebug(lcPlatform) << "network state: still cannot hear of route changes:"
                                << std::strerror(error);
        m_subscribeTried = true;
        m_subscribeAt = now;
    }
    // Without the subscription every question reads both anew.
    return m_changes < 0 || drainAnnouncements(m_changes);
}

bool LinuxNetworkState::isConnected()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = m_clock();
    if (drainedChanges(now)) {
        m_nmKnown = false;
        m_routeKnown = false;
    }
    if (!m_nmKnown || now - m_nmAt >= kNmTrust) {
        m_nm = networkManagerState();
        m_nmKnown = true;
        m_nmAt = now;
    }
    if (m_nm)
        return *m_nm >= kNmConnectedSite;
    if (!m_routeKnown) {
        const std::optional<bool> route = readDefaultRoute();
        // A failed reading is tried again next time.
        m_routeKnown = route.has_value();
        m_route = route.value_or(false);
    }
    return m_route;
}

std::optional<uint32_t> LinuxNetworkState::networkManagerState()
{
    QDBusConnection bus = m_connectionName.isEmpty() ? QDBusConnection::systemBus()
                                                     : QDBusConnection(m_connectionName);
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kNmService, kNmPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kNmService << QStringLiteral("State");
    // One round trip a cycle: the bus itself says when nobody owns the name, and a service
    // that is not running is not started for our question.
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, kDbusTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage &&
        (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
         reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")))
        return std::nullopt;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCWarning(lcPlatform) << "network state: NetworkManager did not answer:"
                              << reply.errorMessage();
        return std::nullopt;
    }
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    bool ok = false;
    const uint state = value.toUInt(&ok);
    if (!ok) {
        qCWarning(lcPlatform) << "network state: NetworkManager's State is not a number:" << value;
        return std::nullopt;
    }
    return state;
}

std::optional<bool> LinuxNetworkState::readDefaultRoute()
{
    Fd sock{::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)};
    if (sock.fd < 0)
        return std::nullopt;
    timeval timeout{1, 0};
    ::setsockopt(sock.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    bool found = false;
    const bool v4 = dumpFamily(sock.fd, AF_INET, 1, found);
    if (v4 && found)
        return true;
    found = false;
    const bool v6 = dumpFamily(sock.fd, AF_INET6, 2, found);
    if (v6 && found)
        return true;
    if (!v4 || !v6)
        return std::nullopt;
    return false;
}

bool LinuxNetworkState::scanRouteDump(const uint8_t* data, size_t len, bool& found, bool& done)
{
    size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= len) {
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > len - offset)
            return false;
        if (header.nlmsg_type == NLMSG_DONE) {
            done = true;
            return true;
        }
        if (header.nlmsg_type == NLMSG_ERROR)
            return false;
        if (header.nlmsg_type == RTM_NEWROUTE && header.nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            rtmsg route;
            std::memcpy(&route, data + offset + NLMSG_HDRLEN, sizeof route);
            // Unreachable, blackhole and prohibit defaults lead nowhere; the local table never
            // holds a way out.
            if (route.rtm_dst_len == 0 && route.rtm_type == RTN_UNICAST &&
                route.rtm_table != RT_TABLE_LOCAL)
                found = true;
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return true;
}

} // namespace vb::platform::linux_

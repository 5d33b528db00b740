// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/networkstate.h"

#include "core/logging.h"

#include <QAtomicInteger>
#include <QDBusConnectionInterface>
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

LinuxNetworkState::LinuxNetworkState(const QString& busAddress)
{
    if (busAddress.isEmpty())
        return;
    m_connectionName =
        QStringLiteral("vb-network-state-%1").arg(g_connectionSerial.fetchAndAddRelaxed(1));
    QDBusConnection::connectToBus(busAddress, m_connectionName);
}

LinuxNetworkState::~LinuxNetworkState()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool LinuxNetworkState::isConnected()
{
    if (const auto state = networkManagerState())
        return *state >= kNmConnectedSite;
    return hasDefaultRoute();
}

std::optional<uint32_t> LinuxNetworkState::networkManagerState()
{
    QDBusConnection bus = m_connectionName.isEmpty() ? QDBusConnection::systemBus()
                                                     : QDBusConnection(m_connectionName);
    if (!bus.isConnected() || !bus.interface())
        return std::nullopt;
    const auto registered = bus.interface()->isServiceRegistered(kNmService);
    if (!registered.isValid() || !registered.value())
        return std::nullopt;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kNmService, kNmPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kNmService << QStringLiteral("State");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kDbusTimeoutMs);
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

bool LinuxNetworkState::hasDefaultRoute()
{
    Fd sock{::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)};
    if (sock.fd < 0)
        return false;
    timeval timeout{1, 0};
    ::setsockopt(sock.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    bool found = false;
    if (dumpFamily(sock.fd, AF_INET, 1, found) && found)
        return true;
    found = false;
    return dumpFamily(sock.fd, AF_INET6, 2, found) && found;
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

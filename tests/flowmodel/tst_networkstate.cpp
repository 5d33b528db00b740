// SPDX-License-Identifier: GPL-3.0-or-later
// The connection state on the real kernel, inside a network namespace of the test's own (no
// route of the machine is touched; an ordinary user's lives in a user namespace of its own),
// and NetworkManager's verdict on a private bus.
#include "platform/linux/networkstate.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <vector>

using vb::platform::linux_::LinuxNetworkState;

namespace {
bool ip(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) {
        qWarning() << "ip" << args << "failed:" << p.readAllStandardError();
        return false;
    }
    return true;
}

bool setIpv6(const QString& link, bool on)
{
    QFile f(QStringLiteral("/proc/sys/net/ipv6/conf/%1/disable_ipv6").arg(link));
    return f.open(QIODevice::WriteOnly) && f.write(on ? "0" : "1") == 1;
}

QStringList words(const char* s)
{
    return QString::fromLatin1(s).split(QLatin1Char(' '));
}

// The veth pair vbnet<n> / vbpeer<n>, both ends up, the near one at 10.<n>.0.1/24 (routes via
// 10.<n>.0.2 reach out). ipv6 false: the near end has none, so its going down is announced as
// a link change alone.
bool vethUp(int n, bool ipv6 = true)
{
    const QString net = QStringLiteral("vbnet%1").arg(n);
    const QString peer = QStringLiteral("vbpeer%1").arg(n);
    const auto run = [](const QString& command) { return ip(command.split(QLatin1Char(' '))); };
    return run(QStringLiteral("link add %1 type veth peer name %2").arg(net, peer)) &&
           (ipv6 || setIpv6(net, false)) && run(QStringLiteral("link set %1 up").arg(peer)) &&
           run(QStringLiteral("link set %1 up").arg(net)) &&
           run(QStringLiteral("addr add 10.%1.0.1/24 dev %2").arg(n).arg(net));
}

// Builds one netlink datagram of route messages.
struct Dump
{
    std::vector<uint8_t> bytes;
    void route(unsigned char dstLen, unsigned char type, unsigned char table)
    {
        nlmsghdr h{};
        h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
        h.nlmsg_type = RTM_NEWROUTE;
        rtmsg r{};
        r.rtm_family = AF_INET;
        r.rtm_dst_len = dstLen;
        r.rtm_type = type;
        r.rtm_table = table;
        append(&h, sizeof h);
        append(&r, sizeof r);
        bytes.resize(NLMSG_ALIGN(bytes.size()));
    }
    void control(uint16_t type)
    {
        nlmsghdr h{};
        h.nlmsg_len = NLMSG_LENGTH(sizeof(int));
        h.nlmsg_type = type;
        int error = 0;
        append(&h, sizeof h);
        append(&error, sizeof error);
    }
    void append(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};
} // namespace

// The NetworkManager face a test needs: its State property.
class FakeNetworkManager : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
    Q_PROPERTY(uint State READ state)
public:
    explicit FakeNetworkManager(QObject* parent) : QDBusAbstractAdaptor(parent) {}
    uint state() const
    {
        ++m_asked;
        return m_state;
    }
    uint m_state = 70;
    mutable int m_asked = 0;
};

// A fake NetworkManager on the test's bus under a connection of its own, served by this thread.
struct NetworkManagerOnBus
{
    NetworkManagerOnBus(const QString& busAddress, const QString& connection, uint state)
        : name(connection), service(QDBusConnection::connectToBus(busAddress, connection)),
          nm(new FakeNetworkManager(&root))
    {
        nm->m_state = state;
        registered =
            service.isConnected() &&
            service.registerObject(QStringLiteral("/org/freedesktop/NetworkManager"), &root) &&
            service.registerService(QStringLiteral("org.freedesktop.NetworkManager"));
    }
    ~NetworkManagerOnBus()
    {
        service.unregisterService(QStringLiteral("org.freedesktop.NetworkManager"));
        QDBusConnection::disconnectFromBus(name);
    }
    QString name;
    QDBusConnection service;
    QObject root;
    FakeNetworkManager* nm;
    bool registered = false;
};

// While it lives, no descriptor can be opened: the soft limit sits just above the highest one
// in use and the rest are taken.
struct NoDescriptorsLeft
{
    NoDescriptorsLeft()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved);
        int highest = 0;
        for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files))
            highest = qMax(highest, fd.toInt());
        rlimit low = saved;
        low.rlim_cur = rlim_t(highest) + 8;
        ok = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
        for (int i = 0; ok && i < 4096; ++i) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                break;
            taken.push_back(fd);
        }
    }
    ~NoDescriptorsLeft()
    {
        for (int fd : taken)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &saved);
    }
    rlimit saved{};
    std::vector<int> taken;
    bool ok = false;
};

// Counts the warnings that contain a text, while it lives.
struct WarningCount
{
    explicit WarningCount(const char* text)
    {
        s_text = text;
        s_count = 0;
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (type == QtWarningMsg && message.contains(QLatin1String(s_text)))
                    ++s_count;
                s_previous(type, context, message);
            });
    }
    ~WarningCount() { qInstallMessageHandler(s_previous); }
    int count() const { return s_count; }
    static inline const char* s_text = nullptr;
    static inline int s_count = 0;
    static inline QtMessageHandler s_previous = nullptr;
};

// The question asked from another thread, as the sampling worker does, while this one serves
// the bus.
bool askedFromAnotherThread(LinuxNetworkState& checker)
{
    auto asked = std::async(std::launch::async, [&checker] { return checker.isConnected(); });
    while (asked.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return asked.get();
}

class TestNetworkState : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void scanRouteDump_data();
    void scanRouteDump();
    void defaultRouteInThisNamespace();
    void networkManagerDecidesWhenPresent_data();
    void networkManagerDecidesWhenPresent();
    void withoutNetworkManagerTheRouteDecides();
    void networkManagerIsAskedAgainAfterAChange();
    void refusedSubscriptionIsSaidOnce();

private:
    QProcess m_bus;
    QString m_busAddress;
};

void TestNetworkState::initTestCase()
{
    QVERIFY(ip(words("link set lo up")));
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    QVERIFY(!m_busAddress.isEmpty());
}

void TestNetworkState::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished(5000);
}

void TestNetworkState::scanRouteDump_data()
{
    QTest::addColumn<std::vector<uint8_t>>("bytes");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("done");
    Dump none;
    none.route(24, RTN_UNICAST, RT_TABLE_MAIN);
    none.route(0, RTN_UNREACHABLE, RT_TABLE_MAIN);
    none.route(0, RTN_UNICAST, RT_TABLE_LOCAL);
    QTest::newRow("subnet, unreachable default, local") << none.bytes << true << false << false;
    Dump one = none;
    one.route(0, RTN_UNICAST, 100);
    one.control(NLMSG_DONE);
    QTest::newRow("default in another table, then done") << one.bytes << true << true << true;
    Dump error;
    error.control(NLMSG_ERROR);
    QTest::newRow("error reply") << error.bytes << false << false << false;
    std::vector<uint8_t> cut = one.bytes;
    cut.resize(cut.size() - 3);
    QTest::newRow("last message cut short") << cut << false << true << false;
    Dump bogus;
    bogus.route(0, RTN_UNICAST, RT_TABLE_MAIN);
    uint32_t tiny = 4; // a length shorter than the header itself
    std::memcpy(bogus.bytes.data(), &tiny, sizeof tiny);
    QTest::newRow("length below the header") << bogus.bytes << false << false << false;
    QTest::newRow("empty datagram") << std::vector<uint8_t>{} << true << false << false;
}

void TestNetworkState::scanRouteDump()
{
    QFETCH(std::vector<uint8_t>, bytes);
    bool found = false, done = false;
    QTEST(LinuxNetworkState::scanRouteDump(bytes.data(), bytes.size(), found, done), "wellFormed");
    QTEST(found, "found");
    QTEST(done, "done");
}

void TestNetworkState::defaultRouteInThisNamespace()
{
    // Read, and read as present or absent: a failed reading fails the test.
    const auto route = [] { return LinuxNetworkState::readDefaultRoute(); };
    const std::optional<bool> yes(true), no(false);
    QCOMPARE(route(), no);
    QVERIFY(vethUp(77));
    QCOMPARE(route(), no); // a subnet route only
    QVERIFY(ip(words("route add unreachable default")));
    QCOMPARE(route(), no);
    QVERIFY(ip(words("route del unreachable default")));
    QVERIFY(ip(words("route add default via 10.77.0.2")));
    QCOMPARE(route(), yes);
    QVERIFY(ip(words("route del default")));
    QCOMPARE(route(), no);
    QVERIFY(ip(words("route add default via 10.77.0.2 table 100")));
    QCOMPARE(route(), yes); // policy routing, as VPNs set it up
    QVERIFY(ip(words("route del default via 10.77.0.2 table 100")));
    QVERIFY(ip(words("-6 addr add fd00:77::1/64 dev vbnet77 nodad")));
    QVERIFY(ip(words("-6 route add default via fd00:77::2")));
    QCOMPARE(route(), yes);
    QVERIFY(ip(words("link del vbnet77")));
    QCOMPARE(route(), no);
}

void TestNetworkState::networkManagerDecidesWhenPresent_data()
{
    QTest::addColumn<uint>("state");
    QTest::addColumn<bool>("connected");
    QTest::newRow("connected globally") << 70u << true;
    QTest::newRow("connected to the site") << 60u << true;
    QTest::newRow("local only") << 50u << false;
    QTest::newRow("disconnected") << 20u << false;
    QTest::newRow("asleep") << 10u << false;
}

void TestNetworkState::networkManagerDecidesWhenPresent()
{
    QFETCH(uint, state);
    QFETCH(bool, connected);
    NetworkManagerOnBus fake(m_busAddress, QStringLiteral("vb-fake-nm-%1").arg(state), state);
    QVERIFY(fake.registered);
    // No default route here: any "connected" comes from NetworkManager alone.
    LinuxNetworkState checker(m_busAddress);
    QCOMPARE(askedFromAnotherThread(checker), connected);
}

void TestNetworkState::withoutNetworkManagerTheRouteDecides()
{
    // One checker throughout, as the worker keeps one: it reads the routes again only when
    // the kernel announces a change, so every kind of change below must reach it.
    LinuxNetworkState checker(m_busAddress);
    QVERIFY(!checker.networkManagerState());
    QVERIFY(!checker.isConnected());
    QVERIFY(vethUp(78, false));
    QVERIFY(!checker.isConnected());
    QVERIFY(ip(words("route add default via 10.78.0.2")));
    QVERIFY(checker.isConnected());
    // The link going down takes its IPv4 routes along without announcing them.
    QVERIFY(ip(words("link set vbnet78 down")));
    QVERIFY(!checker.isConnected());
    QVERIFY(ip(words("link set vbnet78 up")));
    QVERIFY(ip(words("route add default via 10.78.0.2 table 100")));
    QVERIFY(checker.isConnected());
    QVERIFY(ip(words("route del default via 10.78.0.2 table 100")));
    QVERIFY(!checker.isConnected());
    QVERIFY(setIpv6(QStringLiteral("vbnet78"), true));
    QVERIFY(ip(words("-6 addr add fd00:78::1/64 dev vbnet78 nodad")));
    QVERIFY(ip(words("-6 route add default via fd00:78::2")));
    QVERIFY(checker.isConnected());
    QVERIFY(ip(words("link del vbnet78")));
    QVERIFY(!checker.isConnected());
}

void TestNetworkState::networkManagerIsAskedAgainAfterAChange()
{
    NetworkManagerOnBus fake(m_busAddress, QStringLiteral("vb-fake-nm-asked"), 70);
    QVERIFY(fake.registered);
    std::chrono::steady_clock::time_point now;
    LinuxNetworkState checker(m_busAddress, [&now] { return now; });
    for (int i = 0; i < 3; ++i)
        QVERIFY(askedFromAnotherThread(checker));
    QCOMPARE(fake.nm->m_asked, 1);
    // A kernel announcement (a link comes): the next question asks NetworkManager again.
    fake.nm->m_state = 20;
    QVERIFY(ip(words("link add vbnet2 type veth peer name vbpeer2")));
    QVERIFY(!askedFromAnotherThread(checker));
    QCOMPARE(fake.nm->m_asked, 2);
    // Without one, its verdict stands until it has been trusted long enough.
    fake.nm->m_state = 70;
    now += LinuxNetworkState::kNmTrust - std::chrono::seconds(1);
    QVERIFY(!askedFromAnotherThread(checker));
    QCOMPARE(fake.nm->m_asked, 2);
    now += std::chrono::seconds(1);
    QVERIFY(askedFromAnotherThread(checker));
    QCOMPARE(fake.nm->m_asked, 3);
    QVERIFY(ip(words("link del vbnet2")));
}

// Without a descriptor for the subscription the checker says so once, not at every question,
// and answers from the routes again once descriptors are back.
void TestNetworkState::refusedSubscriptionIsSaidOnce()
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime checks a logged object's type with a pipe of its own, which it
    // cannot have here: it would report its own failure, not ours.
    QSKIP("needs descriptors for the sanitizer runtime");
#endif
    std::chrono::steady_clock::time_point now;
    LinuxNetworkState checker(m_busAddress, [&now] { return now; });
    WarningCount refusals("cannot hear of route changes");
    {
        NoDescriptorsLeft full;
        QVERIFY(full.ok);
        QVERIFY(!full.taken.empty());
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!checker.isConnected()); // nor can the routes be read
            now += LinuxNetworkState::kNmTrust;
        }
    }
    QCOMPARE(refusals.count(), 1);
    // With descriptors back, a default route is seen.
    QVERIFY(vethUp(79));
    QVERIFY(ip(words("route add default via 10.79.0.2")));
    QVERIFY(checker.isConnected());
    QCOMPARE(refusals.count(), 1);
    QVERIFY(ip(words("link del vbnet79")));
}

// Maps the one id the test has to root in its own user namespace.
bool mapTo(const char* file, const QByteArray& line)
{
    QFile f(QString::fromLatin1(file));
    return f.open(QIODevice::WriteOnly) && f.write(line) == line.size();
}

int main(int argc, char** argv)
{
    // A network namespace of our own: routes come and go here only, and vanish with us. An
    // ordinary user gets one inside a user namespace of its own, where it may set up links.
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const int flags = uid == 0 ? CLONE_NEWNET : CLONE_NEWUSER | CLONE_NEWNET;
    if (::unshare(flags) != 0) {
        std::perror("unshare (needs root or user namespaces)");
        return 1;
    }
    if (uid != 0 &&
        !(mapTo("/proc/self/setgroups", "deny") &&
          mapTo("/proc/self/uid_map", QByteArray("0 ") + QByteArray::number(uid) + " 1") &&
          mapTo("/proc/self/gid_map", QByteArray("0 ") + QByteArray::number(gid) + " 1"))) {
        std::perror("mapping the user namespace");
        return 1;
    }
    QCoreApplication app(argc, argv);
    TestNetworkState t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_networkstate.moc"

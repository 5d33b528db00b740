// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/systemdservices.h"

#include "core/logging.h"
#include "platform/linux/procfsprocesses.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace vb::platform::linux_ {

namespace {
const QString kService = QStringLiteral("org.freedesktop.systemd1");
const QString kPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManager = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnitIface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kServiceIface = QStringLiteral("org.freedesktop.systemd1.Service");
const QString kProps = QStringLiteral("org.freedesktop.DBus.Properties");
// The pass runs on the GUI thread: a hung manager must not freeze it for D-Bus's 25 s.
constexpr int kTimeoutMs = 3000;
// A stop asked by an ordinary user may wait for polkit's agent, that is for a person typing a
// password. systemd itself gives up on polkit after 25 s; this bounds the wait should the
// manager not answer at all. Stops run on the fix worker, never on the GUI thread.
constexpr int kStopCallMs = 30000;

std::atomic<int> g_connections{0};

QDBusMessage managerCall(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kManager, method);
}

QDBusMessage propertyGet(const QString& path, const QString& iface, const QString& name)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, path, kProps, QStringLiteral("Get"));
    m << iface << name;
    return m;
}

QVariant replyValue(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return QVariant();
    QVariant v = reply.arguments().constFirst();
    if (v.canConvert<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    return v;
}

uint32_t errorNumberOf(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.systemd1.NoSuchUnit") ||
        name == QLatin1String("org.freedesktop.systemd1.LoadFailed"))
        return ErrServiceDoesNotExist;
    if (name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied") ||
        name == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired") ||
        name == QLatin1String("org.freedesktop.systemd1.UnitMasked"))
        return ErrAccessDenied;
    // No answer in time: the agent's prompt was left open, or the manager hangs.
    if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
        name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
        name == QLatin1String("org.freedesktop.DBus.Error.TimedOut"))
        return ErrServiceRequestTimeout;
    if (name == QLatin1String("org.freedesktop.systemd1.OnlyByDependency") ||
        name == QLatin1String("org.freedesktop.systemd1.JobTypeNotApplicable"))
        return ErrServiceCannotAcceptCtrl;
    return ErrInvalidHandle;
}

std::string keyOf(const QString& unitName)
{
    return unitName.toStdString();
}

// A key given without a unit type means the service unit of that name.
QString unitNameOf(const std::string& key)
{
    QString n = QString::fromStdString(key);
    if (!n.contains(QLatin1Char('.')))
        n += QStringLiteral(".service");
    return n;
}

struct UnitRow
{
    QString name, description, activeState, subState;
    QDBusObjectPath path;
    uint jobId = 0; // a job under way (start, stop, restart, reload); 0 when none
};

// Reads the a(ssssssouso) array of ListUnits / ListUnitsByPatterns.
bool readUnitRows(const QDBusMessage& reply, std::vector<UnitRow>& rows)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant v = reply.arguments().constFirst();
    if (!v.canConvert<QDBusArgument>())
        return false;
    const QDBusArgument arg = v.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(ssssssouso)"))
        return false;
    arg.beginArray();
    while (!arg.atEnd()) {
        UnitRow r;
        QString loadState, following, jobType;
        QDBusObjectPath jobPath;
        arg.beginStructure();
        arg >> r.name >> r.description >> loadState >> r.activeState >> r.subState >> following >>
            r.path >> r.jobId >> jobType >> jobPath;
        arg.endStructure();
        rows.push_back(std::move(r));
    }
    arg.endArray();
    return true;
}

ServiceInfo infoOf(const UnitRow& r)
{
    ServiceInfo s;
    s.keyName = keyOf(r.name);
    // systemd falls back to the unit name when a unit has no description: no name of its own.
    if (r.description != r.name) {
        s.displayName = r.description.toStdString();
        s.description = s.displayName;
    }
    s.state = SystemdServices::stateOf(r.activeState, r.subState);
    s.waitHintMs = (s.state == SvcRunning || s.state == SvcStopped) ? 0 : 100;
    return s;
}

bool isServiceUnit(const QString& name)
{
    return name.endsWith(QLatin1String(".service"));
}

const QStringList& runningStates()
{
    static const QStringList states{QStringLiteral("active"), QStringLiteral("activating"),
                                    QStringLiteral("deactivating"), QStringLiteral("reloading"),
                                    QStringLiteral("refreshing")};
    return states;
}

// The session bus without letting libdbus start a bus of its own (it would, for an X display,
// when no address is set): the environment's address, else the runtime folder's socket.
QString sessionBusAddress()
{
    QString env = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!env.isEmpty())
        return env;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return QString();
    const QByteArray socket = QFile::encodeName(runtime + QStringLiteral("/bus"));
    struct stat st;
    if (::stat(socket.constData(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return QString();
    return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
}

// A named connection to the manager's bus; why tells what failed when it is not connected.
QDBusConnection connectManagerBus(const std::string& address, ManagerBus bus, const QString& name,
                                  QString& why)
{
    QString at = QString::fromStdString(address);
    if (at.isEmpty() && bus == ManagerBus::System)
        return QDBusConnection::connectToBus(QDBusConnection::SystemBus, name);
    if (at.isEmpty())
        at = sessionBusAddress();
    if (at.isEmpty()) {
        why = QStringLiteral("no session bus");
        return QDBusConnection(name);
    }
    QDBusConnection c = QDBusConnection::connectToBus(at, name);
    if (!c.isConnected())
        why = c.lastError().message();
    return c;
}

// The path of the first command a service started (ExecStart's a(sasbttttuii)), as the file
// it names: a link like /bin on a merged /usr reads as its target, as the process's image does.
QString execStartImage(const QVariant& v)
{
    if (!v.canConvert<QDBusArgument>())
        return QString();
    const QDBusArgument arg = v.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(sasbttttuii)"))
        return QString();
    QString first;
    arg.beginArray();
    while (!arg.atEnd()) {
        QString path;
        QStringList argv;
        bool ignoreFailure = false;
        qulonglong t1 = 0, t2 = 0, t3 = 0, t4 = 0;
        uint pid = 0;
        int code = 0, status = 0;
        arg.beginStructure();
        arg >> path >> argv >> ignoreFailure >> t1 >> t2 >> t3 >> t4 >> pid >> code >> status;
        arg.endStructure();
        if (first.isEmpty())
            first = path;
    }
    arg.endArray();
    if (first.isEmpty())
        return first;
    const QString real = QFileInfo(first).canonicalFilePath();
    return real.isEmpty() ? first : real;
}

// Whether this user may read the file of a process's procfs folder.
bool mayRead(uint pid, const char* file)
{
    const QByteArray path = QByteArrayLiteral("/proc/") + QByteArray::number(pid) + '/' + file;
    char buf[8];
    return std::strcmp(file, "exe") == 0 ? ::readlink(path.constData(), buf, sizeof(buf)) >= 0
                                         : ::access(path.constData(), R_OK) == 0;
}

// The start time of a process (readable for every user's processes); 0 when it is gone.
uint64_t startTimeOf(uint pid)
{
    return ProcfsProcesses().startTime(pid);
}

// A unit that runs the same main process as last pass: the same state columns and no job
// under way, and its main process (if any) still the very one (a restart gives a new one,
// and a pid handed out again has another start time). Whatever ended meanwhile is asked again.
bool stillRuns(const SystemdServices::KnownUnit& known, const UnitRow& row)
{
    return row.jobId == 0 && known.activeState == row.activeState &&
           known.subState == row.subState &&
           (known.pid == 0 || startTimeOf(known.pid) == known.pidStart);
}

// What the manager knows of a service's main process, so that an ordinary user, who may not
// look into a system service's process, still sees the row: the main pid (or, where the
// manager follows none, the started command's while that still runs), the image it started
// and the memory it accounts. Single properties, each asked only when this user cannot read
// it in procfs and all units' at once: the whole Service interface costs the manager several
// times a pass (it reads every cgroup figure). The main process and its image are asked once
// per main process (the known entry); the memory, which changes, every pass it is needed.
class MainProcessQuery
{
public:
    MainProcessQuery(QDBusConnection& bus, const UnitRow& row,
                     const SystemdServices::KnownUnit* known)
        : m_bus(bus), m_unit(row.name), m_path(row.path.path()), m_active(row.activeState),
          m_sub(row.subState), m_cacheable(row.jobId == 0)
    {
        if (known && stillRuns(*known, row)) {
            m_known = true;
            m_pid = known->pid;
            m_pidStart = known->pidStart;
            m_image = known->image;
        } else {
            m_mainPid = get(QStringLiteral("MainPID"));
        }
    }
    // The second round, once every main pid is asked for.
    void askDetails()
    {
        if (!m_known) {
            m_pid = valueOf(*m_mainPid).toUInt();
            if (m_pid == 0) {
                m_code = get(QStringLiteral("ExecMainCode"));
                m_started = get(QStringLiteral("ExecMainPID"));
            }
        }
        if (m_pid != 0 && mayRead(m_pid, "exe")) {
            m_image.clear();
            return; // the process names itself
        }
        if (m_image.isEmpty())
            m_exec = get(QStringLiteral("ExecStart"));
        if (m_pid == 0 || !mayRead(m_pid, "status"))
            m_memory = get(QStringLiteral("MemoryCurrent"));
    }
    void fill(ServiceInfo& s)
    {
        if (m_code && valueOf(*m_code).toInt() == 0) // the started command has not exited
            m_pid = valueOf(*m_started).toUInt();
        if (!m_known && m_pid != 0)
            m_pidStart = startTimeOf(m_pid);
        s.processId = m_pid;
        if (m_exec)
            m_image = execStartImage(valueOf(*m_exec));
        s.imagePath = m_image.toStdString();
        bool ok = false;
        const qulonglong memory = m_memory ? valueOf(*m_memory).toULongLong(&ok) : 0;
        // The manager answers the largest number when it does not account memory.
        if (ok && memory != std::numeric_limits<qulonglong>::max())
            s.memoryBytes = memory;
    }
    // Units in the middle of a job are asked again next pass, as are main processes that ended
    // before their start time was read.
    void remember(std::map<QString, SystemdServices::KnownUnit>& into) const
    {
        if (m_cacheable && (m_pid == 0 || m_pidStart != 0))
            into[m_unit] = SystemdServices::KnownUnit{m_active, m_sub, m_pid, m_pidStart, m_image};
    }

private:
    QDBusPendingCall get(const QString& name)
    {
        return m_bus.asyncCall(propertyGet(m_path, kServiceIface, name), kTimeoutMs);
    }
    static QVariant valueOf(QDBusPendingCall& call)
    {
        call.waitForFinished();
        return replyValue(call.reply());
    }
    QDBusConnection& m_bus;
    QString m_unit, m_path, m_active, m_sub;
    bool m_cacheable;
    bool m_known = false;
    uint m_pid = 0;
    uint64_t m_pidStart = 0;
    QString m_image;
    std::optional<QDBusPendingCall> m_mainPid, m_code, m_started, m_exec, m_memory;
};

// The parent of a process (procfs, readable for every user's processes); 0 when gone.
ProcessId parentOf(ProcessId pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = f.readAll();
    // The name in parentheses may hold anything: the state and the parent follow the last ')'.
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    return fields.size() > 1 ? fields[1].toUInt() : 0;
}

uint32_t queryOn(QDBusConnection& bus, const std::string& keyName, ServiceInfo& out)
{
    const QString unit = unitNameOf(keyName);
    QDBusMessage m = managerCall(QStringLiteral("GetUnit"));
    m << unit;
    const QDBusMessage reply = bus.call(m, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // Not loaded: a unit that exists on disk but never ran is simply stopped.
        if (reply.errorName() != QLatin1String("org.freedesktop.systemd1.NoSuchUnit"))
            return errorNumberOf(reply);
        QDBusMessage load = managerCall(QStringLiteral("LoadUnit"));
        load << unit;
        const QDBusMessage lr = bus.call(load, QDBus::Block, kTimeoutMs);
        if (lr.type() != QDBusMessage::ReplyMessage)
            return errorNumberOf(lr);
        const QString path = lr.arguments().value(0).value<QDBusObjectPath>().path();
        const QString ls =
            replyValue(bus.call(propertyGet(path, kUnitIface, QStringLiteral("LoadState")),
                                QDBus::Block, kTimeoutMs))
                .toString();
        if (ls == QLatin1String("not-found"))
            return ErrServiceDoesNotExist;
        out = ServiceInfo{};
        out.keyName = keyOf(unit);
        out.state = SvcStopped;
        return ErrSuccess;
    }
    const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
    QDBusPendingCall active =
        bus.asyncCall(propertyGet(path, kUnitIface, QStringLiteral("ActiveState")), kTimeoutMs);
    QDBusPendingCall sub =
        bus.asyncCall(propertyGet(path, kUnitIface, QStringLiteral("SubState")), kTimeoutMs);
    QDBusPendingCall desc =
        bus.asyncCall(propertyGet(path, kUnitIface, QStringLiteral("Description")), kTimeoutMs);
    QDBusPendingCall pid =
        bus.asyncCall(propertyGet(path, kServiceIface, QStringLiteral("MainPID")), kTimeoutMs);
    active.waitForFinished();
    sub.waitForFinished();
    desc.waitForFinished();
    pid.waitForFinished();
    if (active.isError())
        return errorNumberOf(active.reply());
    UnitRow r;
    r.name = unit;
    r.activeState = replyValue(active.reply()).toString();
    r.subState = replyValue(sub.reply()).toString();
    r.description = replyValue(desc.reply()).toString();
    if (r.description.isEmpty())
        r.description = unit;
    out = infoOf(r);
    out.processId = replyValue(pid.reply()).toUInt();
    return ErrSuccess;
}

bool dependentsOn(QDBusConnection& bus, const std::string& keyName, std::vector<ServiceInfo>& out)
{
    out.clear();
    QDBusMessage m = managerCall(QStringLiteral("GetUnit"));
    m << unitNameOf(keyName);
    const QDBusMessage reply = bus.call(m, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
    // The units systemd stops along with this one: those that require it, are bound to it or
    // are part of it. Units that merely want it keep running, so they are no dependents.
    QStringList names;
    for (const char* prop : {"RequiredBy", "BoundBy", "ConsistsOf"}) {
        const QStringList l =
            replyValue(bus.call(propertyGet(path, kUnitIface, QLatin1String(prop)), QDBus::Block,
                                kTimeoutMs))
                .toStringList();
        for (const QString& n : l)
            if (isServiceUnit(n) && !names.contains(n))
                names << n;
    }
    for (const QString& n : names) {
        ServiceInfo s;
        if (queryOn(bus, keyOf(n), s) == ErrSuccess && s.state != SvcStopped)
            out.push_back(std::move(s));
    }
    return true;
}

// Asks the manager to stop the unit; the job's object path into job when given.
uint32_t stopOn(QDBusConnection& bus, const std::string& keyName, QString* job)
{
    QDBusMessage m = managerCall(QStringLiteral("StopUnit"));
    // "replace" also stops the units that require this one, as stopping a Windows service's
    // dependents first would.
    m << unitNameOf(keyName) << QStringLiteral("replace");
    // An ordinary user's stop of a system unit goes through polkit: let its agent ask (once
    // for a fix where the rules keep the answer) rather than be refused outright.
    m.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage reply = bus.call(m, QDBus::Block, kStopCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return errorNumberOf(reply);
    if (job)
        *job = reply.arguments().value(0).value<QDBusObjectPath>().path();
    return ErrSuccess;
}

// The unit's object path, loading the unit when it is not; empty when there is none.
QString unitPathOn(QDBusConnection& bus, const std::string& keyName)
{
    QDBusMessage m = managerCall(QStringLiteral("LoadUnit"));
    m << unitNameOf(keyName);
    const QDBusMessage reply = bus.call(m, QDBus::Block, kTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage
               ? reply.arguments().value(0).value<QDBusObjectPath>().path()
               : QString();
}
} // namespace

SystemdServices::SystemdServices(std::string busAddress, ManagerBus bus)
    : m_address(std::move(busAddress)), m_bus(bus),
      m_name(QStringLiteral("vb-systemd-%1").arg(g_connections.fetch_add(1)))
{}

SystemdServices::~SystemdServices()
{
    QDBusConnection::disconnectFromBus(m_name);
}

ServiceRunState SystemdServices::stateOf(const QString& activeState, const QString& /*subState*/)
{
    // Reloading and refreshing units keep running all the while.
    if (activeState == QLatin1String("active") || activeState == QLatin1String("reloading") ||
        activeState == QLatin1String("refreshing"))
        return SvcRunning;
    if (activeState == QLatin1String("activating"))
        return SvcStartPending;
    if (activeState == QLatin1String("deactivating"))
        return SvcStopPending;
    return SvcStopped; // inactive, failed, maintenance and anything newer
}

bool SystemdServices::connect(QDBusConnection& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A connection of our own, so that one lost when the bus restarts (or one that was not
    // there yet) is made again on the next call; a dropped one stays registered until removed.
    out = QDBusConnection(m_name);
    QString why;
    if (!out.isConnected()) {
        QDBusConnection::disconnectFromBus(m_name);
        out = connectManagerBus(m_address, m_bus, m_name, why);
    }
    if (!out.isConnected()) {
        reportUnreachable(why.isEmpty() ? out.lastError().message() : why);
        return false;
    }
    return true;
}

void SystemdServices::reportUnreachable(const QString& why)
{
    const bool first = !m_saidUnreachable.exchange(true);
    if (first && m_bus == ManagerBus::System)
        qCWarning(lcProcs).noquote()
            << QStringLiteral("[services] no system service manager (%1): services are not "
                              "listed")
                   .arg(why);
    else if (first) // many users run no manager of their own: no failure
        qCDebug(lcPlatform) << "[services] no session service manager:" << why;
}

bool SystemdServices::activeServices(std::vector<ServiceInfo>& out)
{
    out.clear();
    QDBusConnection bus(QString{});
    if (!connect(bus))
        return false;
    QDBusMessage m = managerCall(QStringLiteral("ListUnitsByPatterns"));
    m << runningStates() << QStringList{QStringLiteral("*.service")};
    std::vector<UnitRow> rows;
    QDBusMessage reply = bus.call(m, QDBus::Block, kTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        reply = bus.call(managerCall(QStringLiteral("ListUnits")), QDBus::Block, kTimeoutMs);
    if (!readUnitRows(reply, rows)) {
        // A bus without systemd on it (another init) answers here.
        reportUnreachable(reply.errorName() + QStringLiteral(": ") + reply.errorMessage());
        return false;
    }
    std::map<QString, KnownUnit> known;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        known.swap(m_known);
    }
    // Ask for the main process of every unit not known from last pass at once: one round trip
    // instead of one per unit.
    std::vector<MainProcessQuery> pending;
    std::vector<UnitRow> kept;
    for (UnitRow& r : rows) {
        if (!isServiceUnit(r.name) ||
            SystemdServices::stateOf(r.activeState, r.subState) == SvcStopped)
            continue;
        const auto it = known.find(r.name);
        pending.emplace_back(bus, r, it == known.end() ? nullptr : &it->second);
        kept.push_back(std::move(r));
    }
    for (MainProcessQuery& q : pending)
        q.askDetails();
    known.clear(); // only the units that still run are kept
    for (size_t i = 0; i < kept.size(); ++i) {
        ServiceInfo s = infoOf(kept[i]);
        pending[i].fill(s);
        pending[i].remember(known);
        out.push_back(std::move(s));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known = std::move(known);

    return true;
}

bool SystemdServices::applicationProcesses(std::vector<ProcessId>& out)
{
    out.clear();
    QDBusConnection bus(QString{});
    if (!connect(bus))
        return false;
    QDBusMessage m = managerCall(QStringLiteral("ListUnitsByPatterns"));
    m << runningStates()
      << QStringList{QStringLiteral("app-*.scope"), QStringLiteral("app-*.service")};
    std::vector<UnitRow> rows;
    if (!readUnitRows(bus.call(m, QDBus::Block, kTimeoutMs), rows))
        return false;
    std::vector<QDBusPendingCall> pending;
    for (const UnitRow& r : rows) {
        // The session's own helpers, which the desktop's autostart folder started, are none
        // the user opened.
        if (r.name.endsWith(QLatin1String("@autostart.service")))
            continue;
        QDBusMessage p = managerCall(QStringLiteral("GetUnitProcesses"));
        p << r.name;
        pending.push_back(bus.asyncCall(p, kTimeoutMs));
    }
    for (QDBusPendingCall& call : pending) {
        call.waitForFinished();
        const QDBusMessage reply = call.reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue; // ended meanwhile
        const QDBusArgument arg = reply.arguments().constFirst().value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("a(sus)"))
            continue;
        std::set<ProcessId> unit;
        arg.beginArray();
        while (!arg.atEnd()) {
            QString cgroup, command;
            uint pid = 0;
            arg.beginStructure();
            arg >> cgroup >> pid >> command;
            arg.endStructure();
            if (pid)
                unit.insert(pid);
        }
        arg.endArray();
        // A browser's helpers or a terminal's shells belong to the application that started
        // them: only the unit's heads stand for it.
        for (const ProcessId pid : unit)
            if (!unit.count(parentOf(pid)))
                out.push_back(pid);
    }
    return true;
}

uint32_t SystemdServices::queryService(const std::string& keyName, ServiceInfo& out)
{
    QDBusConnection bus(QString{});
    if (!connect(bus))
        return ErrInvalidHandle;
    return queryOn(bus, keyName, out);
}

bool SystemdServices::activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out)
{
    out.clear();
    QDBusConnection bus(QString{});
    if (!connect(bus))
        return false;
    return dependentsOn(bus, keyName, out);
}

uint32_t SystemdServices::stopService(const std::string& keyName)
{
    QDBusConnection bus(QString{});
    if (!connect(bus))
        return ErrInvalidHandle;
    ServiceInfo now;
    const uint32_t q = queryOn(bus, keyName, now);
    if (q != ErrSuccess)
        return q;
    if (now.state == SvcStopped)
        return ErrServiceNotActive;
    return stopOn(bus, keyName, nullptr);
}

std::unique_ptr<IServiceManager> SystemdServices::openManager()
{
    auto m = std::make_unique<SystemdServiceManager>(m_address, m_bus);
    if (!m->isConnected())
        return nullptr;
    return m;
}

// --- one connection per series of stops ---

SystemdServiceManager::SystemdServiceManager(const std::string& busAddress, ManagerBus bus)
    : m_name(QStringLiteral("vb-systemd-stop-%1").arg(g_connections.fetch_add(1)))
{
    QString why;
    m_bus = std::make_unique<QDBusConnection>(connectManagerBus(busAddress, bus, m_name, why));
    if (!m_bus->isConnected()) {
        // The listing has said so already: without a manager there are no service rows.
        qCDebug(lcPlatform) << "[services] no manager for the fix:"
                            << (why.isEmpty() ? m_bus->lastError().message() : why);
        return;
    }
    // The manager sends its job and unit signals only while some client has subscribed;
    // the subscription ends with this connection.
    m_bus->call(managerCall(QStringLiteral("Subscribe")), QDBus::Block, kTimeoutMs);
    m_watcher = std::make_unique<StopWatcher>();
    m_bus->connect(kService, kPath, kManager, QStringLiteral("JobRemoved"), m_watcher.get(),
                   SLOT(onJobRemoved(QDBusMessage)));
}

SystemdServiceManager::~SystemdServiceManager()
{
    m_watcher.reset();
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_name);
}

bool SystemdServiceManager::isConnected() const
{
    return m_bus && m_bus->isConnected() && m_watcher;
}

uint32_t SystemdServiceManager::queryService(const std::string& keyName, ServiceInfo& out)
{
    return queryOn(*m_bus, keyName, out);
}

bool SystemdServiceManager::activeDependents(const std::string& keyName,
                                             std::vector<ServiceInfo>& out)
{
    return dependentsOn(*m_bus, keyName, out);
}

uint32_t SystemdServiceManager::sendStop(const std::string& keyName, ServiceInfo& out)
{
    // Listen to the unit before asking, so that no change between the request and the wait
    // goes unheard.
    const QString path = unitPathOn(*m_bus, keyName);
    if (path.isEmpty())
        return ErrServiceDoesNotExist;
    if (!m_watchedUnits.contains(path)) {
        m_bus->connect(kService, path, kProps, QStringLiteral("PropertiesChanged"), m_watcher.get(),
                       SLOT(onUnitChanged(QDBusMessage)));
        m_watchedUnits << path;
    }
    QString job;
    const uint32_t e = stopOn(*m_bus, keyName, &job);
    if (e != ErrSuccess)
        return e;
    m_watcher->watchJob(job);
    return queryOn(*m_bus, keyName, out);
}

uint32_t SystemdServiceManager::waitForStop(const std::string& keyName, uint32_t maxMs,
                                            ServiceInfo& out)
{
    if (maxMs > 0)
        m_watcher->waitForProgress(maxMs);
    return queryOn(*m_bus, keyName, out);
}

void StopWatcher::watchJob(const QString& job)
{
    m_job = job;
}

void StopWatcher::waitForProgress(uint32_t maxMs)
{
    // Signals that came in while we were busy are queued for this thread and wake the loop at
    // once; the timer bounds the wait.
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::min<uint32_t>(maxMs, INT_MAX)));
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
}

void StopWatcher::onJobRemoved(const QDBusMessage& m)
{
    if (m.arguments().value(1).value<QDBusObjectPath>().path() == m_job)
        wake();
}

void StopWatcher::onUnitChanged(const QDBusMessage&)
{
    wake();
}

void StopWatcher::wake()
{
    if (m_loop)
        m_loop->quit();
}

} // namespace vb::platform::linux_

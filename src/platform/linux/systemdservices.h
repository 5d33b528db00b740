// SPDX-License-Identifier: GPL-3.0-or-later
// Services as systemd's service units, through the manager's D-Bus API.
#pragma once

#include "platform/services.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

class QDBusConnection;
class QDBusMessage;
class QEventLoop;

namespace vb::platform::linux_ {

// Which of the two managers a desktop user meets: the system's, or the session's own (the
// user's systemd instance, keeper of the user's units and the desktop's application units).
enum class ManagerBus { System, Session };

class SystemdServices : public IServices
{
public:
    // busAddress empty: the bus's usual address (DBUS_SYSTEM_BUS_ADDRESS or the default socket;
    // DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus). The connection is made on first use
    // and again after it was lost.
    explicit SystemdServices(std::string busAddress = std::string(),
                             ManagerBus bus = ManagerBus::System);
    ~SystemdServices() override;
    bool activeServices(std::vector<ServiceInfo>& out) override;
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override;
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override;
    uint32_t stopService(const std::string& keyName) override;
    std::unique_ptr<IServiceManager> openManager() override;
    // The processes of the active app-*.scope and app-*.service units that head their unit
    // (their parent is outside it): one for each application as the desktop started it. The
    // autostart folder's units (app-*@autostart.service) are the session's, not applications.
    bool applicationProcesses(std::vector<ProcessId>& out) override;

    // systemd's ActiveState/SubState as a Windows service state.
    static ServiceRunState stateOf(const QString& activeState, const QString& subState);

    // What a pass learnt of a running unit's main process, served again while the unit keeps
    // its state columns and that process (pid and start time) lives; asked again otherwise.
    struct KnownUnit
    {
        QString activeState, subState;
        uint pid = 0;          // the main process (or the started command), 0 when none
        uint64_t pidStart = 0; // its start time, clock ticks since boot
        QString image;         // what the manager named, where this user cannot read it
    };

private:
    bool connect(QDBusConnection& out);
    // Says once that the manager cannot be reached: for the system's, in a warning that services
    // are not listed; for the session's, which a user may well not run, in a debug line.
    void reportUnreachable(const QString& why);
    std::string m_address;
    ManagerBus m_bus;
    QString m_name;
    std::mutex m_mutex;
    std::atomic<bool> m_saidUnreachable{false};
    // The running units of the last pass by name (with m_mutex held).
    std::map<QString, KnownUnit> m_known;
};

// Wakes a stop's wait when its job ends or its unit changes. Lives on the stopping thread.
class StopWatcher : public QObject
{
    Q_OBJECT
public:
    void watchJob(const QString& job);
    // Runs this thread's events until a wake-up or maxMs, whichever is first.
    void waitForProgress(uint32_t maxMs);
public Q_SLOTS:
    void onJobRemoved(const QDBusMessage& m);
    void onUnitChanged(const QDBusMessage& m);

private:
    void wake();
    QString m_job;
    QEventLoop* m_loop = nullptr;
};

// A bus connection of its own for one series of stops, subscribed to the manager's signals,
// so that a stop is followed to its end instead of polled.
class SystemdServiceManager : public IServiceManager
{
public:
    SystemdServiceManager(const std::string& busAddress, ManagerBus bus);
    ~SystemdServiceManager() override;
    bool isConnected() const;
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override;
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override;
    uint32_t sendStop(const std::string& keyName, ServiceInfo& out) override;
    uint32_t waitForStop(const std::string& keyName, uint32_t maxMs, ServiceInfo& out) override;

private:
    QString m_name;
    std::unique_ptr<QDBusConnection> m_bus;
    std::unique_ptr<StopWatcher> m_watcher;
    QSet<QString> m_watchedUnits;
};

} // namespace vb::platform::linux_

// SPDX-License-Identifier: GPL-3.0-or-later
// Services as systemd's service units, through the manager's D-Bus API.
#pragma once

#include "platform/services.h"

#include <QString>

#include <mutex>

class QDBusConnection;

namespace vb::platform::linux_ {

class SystemdServices : public IServices
{
public:
    // busAddress empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS or the default socket).
    explicit SystemdServices(std::string busAddress = std::string());
    ~SystemdServices() override;
    bool activeServices(std::vector<ServiceInfo>& out) override;
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override;
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override;
    uint32_t stopService(const std::string& keyName) override;

    // systemd's ActiveState/SubState as a Windows service state.
    static ServiceRunState stateOf(const QString& activeState, const QString& subState);

private:
    bool connect(QDBusConnection& out);
    std::string m_address;
    QString m_name;
    std::mutex m_mutex;
};

} // namespace vb::platform::linux_

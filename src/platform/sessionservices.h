// SPDX-License-Identifier: GPL-3.0-or-later
// The system's services and the session's own units (the user's service manager) as one: the
// session's units carry kUserUnitPrefix in their keys, so the configuration file, the rows and
// the fix tell them apart without knowing that two managers exist.
#pragma once

#include "platform/services.h"

#include <utility>

namespace vb::platform {

class SystemAndSessionServices : public IServices
{
public:
    // Either part may be empty (no session manager on this system, or none at all).
    SystemAndSessionServices(std::shared_ptr<IServices> system, std::shared_ptr<IServices> session)
        : m_system(std::move(system)), m_session(std::move(session))
    {}

    static bool isSessionKey(const std::string& key)
    {
        return key.compare(0, sizeof(kUserUnitPrefix) - 1, kUserUnitPrefix) == 0;
    }

    // The system's first, then the session's. False only when neither could be listed.
    bool activeServices(std::vector<ServiceInfo>& out) override
    {
        out.clear();
        const bool system = m_system && m_system->activeServices(out);
        if (!system)
            out.clear();
        std::vector<ServiceInfo> own;
        const bool session = m_session && m_session->activeServices(own);
        if (session)
            for (ServiceInfo& s : own)
                out.push_back(tagged(std::move(s)));
        return system || session;
    }
    bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override
    {
        out.clear();
        std::string unit;
        IServices* side = route(keyName, unit);
        if (!side || !side->activeDependents(unit, out))
            return false;
        if (side == m_session.get())
            for (ServiceInfo& s : out)
                s = tagged(std::move(s));
        return true;
    }
    uint32_t queryService(const std::string& keyName, ServiceInfo& out) override
    {
        std::string unit;
        IServices* side = route(keyName, unit);
        if (!side)
            return ErrInvalidHandle;
        const uint32_t e = side->queryService(unit, out);
        if (e == ErrSuccess)
            out.keyName = keyName;
        return e;
    }
    uint32_t stopService(const std::string& keyName) override
    {
        std::string unit;
        IServices* side = route(keyName, unit);
        return side ? side->stopService(unit) : uint32_t(ErrInvalidHandle);
    }
    // Never null: each manager is reached when the first of its units needs it, so a fix of
    // the user's own units alone does not need the system's manager, nor the other way round.
    std::unique_ptr<IServiceManager> openManager() override
    {
        return std::make_unique<Manager>(m_system, m_session);
    }
    bool applicationProcesses(std::vector<ProcessId>& out) override
    {
        out.clear();
        return m_session && m_session->applicationProcesses(out);
    }

private:
    static ServiceInfo tagged(ServiceInfo s)
    {
        s.keyName.insert(0, kUserUnitPrefix);
        return s;
    }
    IServices* route(const std::string& key, std::string& unit) const
    {
        if (isSessionKey(key)) {
            unit = key.substr(sizeof(kUserUnitPrefix) - 1);
            return m_session.get();
        }
        unit = key;
        return m_system.get();
    }

    class Manager : public IServiceManager
    {
    public:
        Manager(std::shared_ptr<IServices> system, std::shared_ptr<IServices> session)
        {
            m_system.services = std::move(system);
            m_session.services = std::move(session);
        }
        uint32_t queryService(const std::string& keyName, ServiceInfo& out) override
        {
            return forward(keyName, out,
                           [](IServiceManager& m, const std::string& unit, ServiceInfo& o) {
                               return m.queryService(unit, o);
                           });
        }
        bool activeDependents(const std::string& keyName, std::vector<ServiceInfo>& out) override
        {
            out.clear();
            std::string unit;
            Side* side = sideOf(keyName, unit);
            if (!side || !side->open() || !side->manager->activeDependents(unit, out))
                return false;
            if (side == &m_session)
                for (ServiceInfo& s : out)
                    s = tagged(std::move(s));
            return true;
        }
        uint32_t sendStop(const std::string& keyName, ServiceInfo& out) override
        {
            return forward(keyName, out,
                           [](IServiceManager& m, const std::string& unit, ServiceInfo& o) {
                               return m.sendStop(unit, o);
                           });
        }
        uint32_t waitForStop(const std::string& keyName, uint32_t maxMs, ServiceInfo& out) override
        {
            return forward(keyName, out,
                           [maxMs](IServiceManager& m, const std::string& unit, ServiceInfo& o) {
                               return m.waitForStop(unit, maxMs, o);
                           });
        }

    private:
        struct Side
        {
            std::shared_ptr<IServices> services;
            std::unique_ptr<IServiceManager> manager;
            bool tried = false;
            bool open()
            {
                if (!tried && services)
                    manager = services->openManager();
                tried = true;
                return manager != nullptr;
            }
        };
        Side* sideOf(const std::string& key, std::string& unit)
        {
            if (isSessionKey(key)) {
                unit = key.substr(sizeof(kUserUnitPrefix) - 1);
                return &m_session;
            }
            unit = key;
            return &m_system;
        }
        template <typename Call>
        uint32_t forward(const std::string& keyName, ServiceInfo& out, Call call)
        {
            std::string unit;
            Side* side = sideOf(keyName, unit);
            if (!side->open())
                return ErrInvalidHandle;
            const uint32_t e = call(*side->manager, unit, out);
            if (e == ErrSuccess)
                out.keyName = keyName;
            return e;
        }
        Side m_system, m_session;
    };

    std::shared_ptr<IServices> m_system;
    std::shared_ptr<IServices> m_session;
};

} // namespace vb::platform

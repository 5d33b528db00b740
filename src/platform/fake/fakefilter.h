// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted filter device and driver service: each device-control call takes the next reply
// of a script and every call is recorded, so tests drive the buffer protocol and the service
// policy through exact sequences.
#pragma once

#include "platform/elevation.h"
#include "platform/filterdevice.h"
#include "platform/volumes.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace vb::platform::fake {

struct ScriptedReply
{
    uint32_t error = ErrSuccess;
    std::vector<uint8_t> bytes;
    // When set, the count reported back instead of the bytes' length (a lying device).
    long long reportedLength = -1;
};

struct RecordedCall
{
    uint32_t code = 0;
    size_t capacity = 0;
    std::vector<uint8_t> input;
};

struct FilterScript
{
    std::deque<ScriptedReply> replies;
    std::vector<RecordedCall> calls;
    bool disconnectWhenEmpty = false;
};

class ScriptedFilterHandle : public IFilterHandle
{
public:
    explicit ScriptedFilterHandle(std::shared_ptr<FilterScript> script) : m_script(std::move(script))
    {
    }
    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t outCapacity, size_t& bytesReturned) override
    {
        m_script->calls.push_back(RecordedCall{code, outCapacity, in});
        bytesReturned = 0;
        if (m_script->replies.empty()) {
            if (m_script->disconnectWhenEmpty) {
                m_connected = false;
                return ErrDeviceNotConnected;
            }
            return ErrInvalidParameter;
        }
        ScriptedReply r = m_script->replies.front();
        m_script->replies.pop_front();
        // Like a real device the fake writes no more than the buffer holds, but it may claim
        // more than it wrote.
        const size_t n = std::min(r.bytes.size(), std::min(outCapacity, out.size()));
        std::copy(r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(n), out.begin());
        bytesReturned = r.reportedLength >= 0 ? static_cast<size_t>(r.reportedLength) : n;
        return r.error;
    }
    bool connected() const override { return m_connected; }

private:
    std::shared_ptr<FilterScript> m_script;
    bool m_connected = true;
};

class ScriptedFilterDevice : public IFilterDevice
{
public:
    std::shared_ptr<FilterScript> script = std::make_shared<FilterScript>();
    bool allowWrite = true;
    bool allowRead = true;
    bool caseSensitive = false;
    int opens = 0;

    std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) override
    {
        ++opens;
        if (writable ? !allowWrite : !allowRead) {
            error = ErrAccessDenied;
            return nullptr;
        }
        error = ErrSuccess;
        return std::make_unique<ScriptedFilterHandle>(script);
    }
    bool caseSensitivePaths() const override { return caseSensitive; }
};

class FakeDriverService : public IDriverService
{
public:
    std::map<std::string, ServiceState> services;
    std::map<std::string, std::string> binaries;
    std::vector<std::string> log; // "install name path", "start name", "remove name"
    uint32_t installError = ErrSuccess;
    uint32_t startError = ErrSuccess; // used when the service exists and is stopped
    // Called after a successful start (a test makes the device appear).
    std::function<void()> onStarted;

    ServiceState state(const std::string& name) override
    {
        auto it = services.find(name);
        return it == services.end() ? ServiceState::Missing : it->second;
    }
    uint32_t install(const std::string& name, const std::string& binaryPath) override
    {
        log.push_back("install " + name + " " + binaryPath);
        if (installError != ErrSuccess)
            return installError;
        if (services.count(name))
            return ErrServiceExists;
        services[name] = ServiceState::Stopped;
        binaries[name] = binaryPath;
        return ErrSuccess;
    }
    uint32_t start(const std::string& name) override
    {
        log.push_back("start " + name);
        auto it = services.find(name);
        if (it == services.end())
            return ErrServiceDoesNotExist;
        if (it->second == ServiceState::Running)
            return ErrServiceAlreadyRunning;
        if (startError != ErrSuccess)
            return startError;
        it->second = ServiceState::Running;
        if (onStarted)
            onStarted();
        return ErrSuccess;
    }
    uint32_t remove(const std::string& name) override
    {
        log.push_back("remove " + name);
        if (!services.erase(name))
            return ErrServiceDoesNotExist;
        binaries.erase(name);
        return ErrSuccess;
    }
};

class FakeElevation : public IElevation
{
public:
    bool elevated = true;
    bool wow64 = false;
    bool isElevated() override { return elevated; }
    bool isWow64() override { return wow64; }
};

class FakeVolumes : public IVolumes
{
public:
    std::vector<std::pair<std::string, std::string>> map;
    std::vector<std::pair<std::string, std::string>> driveMap() override { return map; }
};

} // namespace vb::platform::fake

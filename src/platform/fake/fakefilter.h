// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted filter device and driver service: each device-control call takes the next reply
// of a script and every call is recorded, so tests drive the buffer protocol and the service
// policy through exact sequences. Once the script has run out, a device with standing tables
// answers from them with the protocol's own encoder, for tests of the sampling worker and the
// traffic model that read it from other threads.
#pragma once

#include "filterwire/filterwire.h"
#include "platform/elevation.h"
#include "platform/fake/fakevolumes.h"
#include "platform/filterdevice.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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

// One connection's live counts as the device reports them.
inline vb::filterwire::ConnectionDataItem connection(uint64_t pid, uint64_t in, uint64_t out)
{
    vb::filterwire::ConnectionDataItem c;
    c.processId = pid;
    c.bytesIn = in;
    c.bytesOut = out;
    return c;
}

struct FilterScript
{
    // Guards everything below: handles answer under it, tests change tables under it.
    std::mutex mutex;
    std::deque<ScriptedReply> replies;
    std::vector<RecordedCall> calls;
    bool disconnectWhenEmpty = false;

    // Standing tables, answered when no scripted reply is left and useTables is set.
    struct Item
    {
        uint64_t pid;
        bool history;
        uint64_t bytesIn;
        uint64_t bytesOut;
    };
    bool useTables = false;
    std::vector<Item> items;
    std::map<uint64_t, std::string> paths;                  // UTF-8
    std::vector<std::pair<uint32_t, std::string>> requests; // block/unblock as received
    bool failReads = false;
    bool refuseRequests = false;
    int connectionReads = 0;
    int pathReads = 0;
    // Bumped when the device goes away: handles opened before then only fail.
    int generation = 0;

    // Called with the mutex held.
    uint32_t answer(bool writable, uint32_t code, const std::vector<uint8_t>& in,
                    std::vector<uint8_t>& reply)
    {
        namespace wire = vb::filterwire;
        switch (code) {
        case wire::CodeConnectionsFirst:
        case wire::CodeConnectionsNext: {
            ++connectionReads;
            if (failReads)
                return 31; // a device that does not work
            std::vector<wire::ConnectionItem> list;
            for (const Item& i : items) {
                wire::ConnectionItem c;
                c.live = connection(i.pid, i.bytesIn, i.bytesOut);
                c.history = i.history;
                list.push_back(c);
            }
            reply = wire::encodeConnectionList(list);
            return ErrSuccess;
        }
        case wire::CodeProcessPathsFirst:
        case wire::CodeProcessPathsNext: {
            ++pathReads;
            std::vector<wire::ProcessPath> list;
            for (const auto& [pid, path] : paths)
                list.push_back({pid, path});
            reply = wire::encodePathList(list);
            return ErrSuccess;
        }
        case wire::CodeBlock:
        case wire::CodeUnblock:
            if (!writable || refuseRequests)
                return ErrAccessDenied;
            requests.emplace_back(code, wire::decodeRequestPath(in.data(), in.size()));
            return ErrSuccess;
        default:
            return wire::ErrInvalidFunction;
        }
    }
};

class ScriptedFilterHandle : public IFilterHandle
{
public:
    ScriptedFilterHandle(std::shared_ptr<FilterScript> script, bool writable)
        : m_script(std::move(script)), m_writable(writable), m_generation(m_script->generation)
    {}
    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t outCapacity, size_t& bytesReturned) override
    {
        std::lock_guard<std::mutex> g(m_script->mutex);
        m_script->calls.push_back(RecordedCall{code, outCapacity, in});
        bytesReturned = 0;
        if (m_generation != m_script->generation)
            return ErrInvalidHandle; // the handle died with the device
        if (m_script->replies.empty()) {
            if (m_script->useTables) {
                std::vector<uint8_t> reply;
                const uint32_t error = m_script->answer(m_writable, code, in, reply);
                if (error != ErrSuccess)
                    return error;
                if (reply.size() > outCapacity)
                    return ErrInsufficientBuffer;
                if (out.size() < reply.size())
                    out.resize(reply.size());
                std::copy(reply.begin(), reply.end(), out.begin());
                bytesReturned = reply.size();
                return ErrSuccess;
            }
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
    bool m_writable;
    int m_generation;
    bool m_connected = true;
};

class ScriptedFilterDevice : public IFilterDevice
{
public:
    using Item = FilterScript::Item;
    std::shared_ptr<FilterScript> script = std::make_shared<FilterScript>();
    // Read under the script's mutex when other threads open the device.
    bool present = true;
    bool allowWrite = true;
    bool allowRead = true;
    bool caseSensitive = false;
    int opens = 0;

    std::mutex& lock() { return script->mutex; }
    // Replaces the connection table.
    void set(std::vector<Item> now)
    {
        std::lock_guard<std::mutex> g(script->mutex);
        script->items = std::move(now);
    }
    // Takes the device away (every open handle goes dead) or brings it back.
    void setPresent(bool on)
    {
        std::lock_guard<std::mutex> g(script->mutex);
        present = on;
        if (!on)
            ++script->generation;
    }

    std::unique_ptr<IFilterHandle> open(bool writable, uint32_t& error) override
    {
        std::lock_guard<std::mutex> g(script->mutex);
        ++opens;
        if (!present) {
            error = ErrFileNotFound;
            return nullptr;
        }
        if (writable ? !allowWrite : !allowRead) {
            error = ErrAccessDenied;
            return nullptr;
        }
        error = ErrSuccess;
        return std::make_unique<ScriptedFilterHandle>(script, writable);
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

} // namespace vb::platform::fake

// SPDX-License-Identifier: GPL-3.0-or-later
// A filter device in memory that answers with the real reply layouts: tests set the
// connections, history entries and paths it reports, take it away and bring it back.
#pragma once

#include "platform/filterdevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class ScriptedFilterDevice : public vb::platform::IFilterDevice
{
public:
    struct Item
    {
        uint64_t pid;
        bool history;
        uint64_t bytesIn;
        uint64_t bytesOut;
    };

    // Everything below is guarded by lock().
    std::mutex& lock() { return m_mutex; }
    bool present = true;
    bool writable = true;
    bool failReads = false;
    bool refuseRequests = false;
    std::vector<Item> items;
    std::map<uint64_t, std::wstring> paths;
    std::vector<std::pair<uint32_t, std::wstring>> requests; // block/unblock as received
    int connectionReads = 0;
    int pathReads = 0;

    void set(std::vector<Item> now)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        items = std::move(now);
    }
    // Takes the device away (every open handle goes dead) or brings it back.
    void setPresent(bool on)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        present = on;
        if (!on)
            ++m_generation;
    }

    bool caseSensitivePaths() const override { return true; }

    std::unique_ptr<vb::platform::IFilterHandle> open(bool wantWrite, uint32_t& error) override
    {
        std::lock_guard<std::mutex> g(m_mutex);
        if (!present) {
            error = 2;
            return nullptr;
        }
        if (wantWrite && !writable) {
            error = 5;
            return nullptr;
        }
        error = 0;
        return std::make_unique<Handle>(this, m_generation, wantWrite);
    }

private:
    class Handle : public vb::platform::IFilterHandle
    {
    public:
        Handle(ScriptedFilterDevice* d, int generation, bool canWrite)
            : m_device(d), m_generation(generation), m_canWrite(canWrite)
        {}
        uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                         size_t outCapacity, size_t& bytesReturned) override
        {
            return m_device->control(m_generation, m_canWrite, code, in, out, outCapacity,
                                     bytesReturned);
        }

    private:
        ScriptedFilterDevice* m_device;
        int m_generation;
        bool m_canWrite;
    };

    template <typename T> static void put(std::vector<uint8_t>& b, T v)
    {
        uint8_t raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T)); // little-endian host
        b.insert(b.end(), raw, raw + sizeof(T));
    }

    uint32_t control(int generation, bool canWrite, uint32_t code, const std::vector<uint8_t>& in,
                     std::vector<uint8_t>& out, size_t outCapacity, size_t& bytesReturned)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        bytesReturned = 0;
        if (!present || generation != m_generation)
            return 6; // the handle died with the device
        std::vector<uint8_t> reply;
        if (code == 0x127006 || code == 0x127002) {
            ++connectionReads;
            if (failReads)
                return 31; // a device that does not work
            put<uint16_t>(reply, uint16_t(items.size()));
            for (const Item& i : items) {
                put<uint64_t>(reply, i.pid);
                put<uint8_t>(reply, i.history ? 1 : 0);
                reply.insert(reply.end(), 14, 0xAB); // identity fields, opaque
                put<uint64_t>(reply, i.bytesIn);
                put<uint64_t>(reply, i.bytesOut);
            }
            reply.insert(reply.end(), 39, 0);
        } else if (code == 0x126C06 || code == 0x126C02) {
            ++pathReads;
            for (const auto& [pid, path] : paths) {
                const uint32_t length = uint32_t(12 + (path.size() + 1) * 2);
                put<uint32_t>(reply, length);
                put<uint64_t>(reply, pid);
                for (wchar_t c : path)
                    put<uint16_t>(reply, uint16_t(c));
                put<uint16_t>(reply, 0);
            }
            reply.insert(reply.end(), 12, 0);
        } else if (code == 0x12A809 || code == 0x12A80D) {
            if (!canWrite || refuseRequests)
                return 5;
            std::wstring path;
            for (size_t i = 0; i + 1 < in.size(); i += 2) {
                const uint16_t c = uint16_t(in[i] | (in[i + 1] << 8));
                if (c == 0)
                    break;
                path.push_back(wchar_t(c));
            }
            requests.emplace_back(code, path);
            return 0;
        } else {
            return 1; // ERROR_INVALID_FUNCTION
        }
        if (reply.size() > outCapacity)
            return 122;
        if (out.size() < reply.size())
            out.resize(reply.size());
        std::copy(reply.begin(), reply.end(), out.begin());
        bytesReturned = reply.size();
        return 0;
    }

    std::mutex m_mutex;
    int m_generation = 0;
};

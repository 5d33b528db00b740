// SPDX-License-Identifier: GPL-3.0-or-later
// PSFilter: one connection to the traffic filter device, with its two list reads (process
// paths and connections), block and unblock requests, and the filter service's provisioning.
#pragma once

#include "filterwire/filterwire.h"

#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>

namespace vb::platform {
class IFilterDevice;
class IFilterHandle;
class IVolumes;
struct Platform;
} // namespace vb::platform

using vb::filterwire::ConnectionDataHistoryItem;
using vb::filterwire::ConnectionDataItem;

class PSFilter
{
public:
    // Opens the given device; paths cross it in the device form the volume map gives (none:
    // paths stay as they are).
    explicit PSFilter(std::shared_ptr<vb::platform::IFilterDevice> device,
                      std::shared_ptr<vb::platform::IVolumes> volumes = {});
    ~PSFilter();
    PSFilter(const PSFilter&) = delete;
    PSFilter& operator=(const PSFilter&) = delete;

    // True when a handle is held afterwards; opens read-write first, then read-only.
    bool open();
    // 0 no device, 1 read-only, 2 read-write. Retries the open while no handle is held.
    int accessMode();
    bool readOnly() const { return m_readOnly; }

    // Reports every process path record, the path in drive-letter form.
    void queryProcessPaths(std::function<void(quint64 pid, const std::wstring& dosPath)> onPath);
    // Reports live connections and history entries in wire order; true when the read succeeded.
    bool queryConnections(std::function<void(const ConnectionDataItem&)> onConnection,
                          std::function<void(const ConnectionDataHistoryItem&)> onHistory);

    bool blockPath(const std::wstring& dosPath);
    bool unblockPath(const std::wstring& dosPath);
    // Open a temporary filter on the given backends for one request.
    static bool block(const vb::platform::Platform& backends, const std::wstring& dosPath);
    static bool unblock(const vb::platform::Platform& backends, const std::wstring& dosPath);

private:
    bool sendPathRequest(quint32 code, const std::wstring& dosPath);
    bool reconnect();
    void dropIfDisconnected();

    std::shared_ptr<vb::platform::IFilterDevice> m_device;
    std::shared_ptr<vb::platform::IVolumes> m_volumes;
    std::unique_ptr<vb::platform::IFilterHandle> m_handle;
    bool m_readOnly = false;
};

// Drive-letter path to device path; empty when the drive has no device. The identity where the
// platform names files without drive letters.
std::wstring dosPathToNtPath(const std::shared_ptr<vb::platform::IVolumes>& volumes,
                             const wchar_t* dosPath);

// The filter service, by the service name ("pswfp"), through the bundle's driver service
// (and its filter device and elevation where a function says so).
bool installDriverService(const vb::platform::Platform& backends, const std::wstring& name,
                          const std::wstring& binaryPath);
bool startDriverService(const vb::platform::Platform& backends, const std::wstring& name);
bool removeDriverService(const vb::platform::Platform& backends, const std::wstring& name);
// Makes the device reachable: opens it, else starts, else (re)installs the service.
bool ensureDriver(const vb::platform::Platform& backends, const std::wstring& name,
                  const std::wstring& binaryPath);

// The service's binary under the application folder.
std::wstring driverBinaryPath(const vb::platform::Platform& backends);
// One provisioning attempt while the device is absent: nothing without administrator rights;
// the first attempt of the process ensures the service with its binary, later ones only start
// it. Returns whether the attempt reported success.
bool attemptDriverProvisioning(const vb::platform::Platform& backends);

// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/psfilter.h"

#include "flow/driverpolicy.h"
#include "flow/listreader.h"
#include "helper/setsgeneral.h"
#include "platform/platform.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <locale>
#include <utility>
#include <vector>

using namespace vb::platform;
namespace wire = vb::filterwire;

namespace {

std::string toUtf8(const std::wstring& s)
{
    return QString::fromStdWString(s).toStdString();
}

std::wstring fromUtf8(const std::string& s)
{
    return QString::fromStdString(s).toStdWString();
}

wchar_t lowerChar(wchar_t c)
{
    return std::use_facet<std::ctype<wchar_t>>(std::locale()).tolower(c);
}

bool startsWithNoCase(const std::wstring& text, const std::wstring& prefix)
{
    if (prefix.size() > text.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lowerChar(text[i]) != lowerChar(prefix[i]))
            return false;
    return true;
}

// (device name, drive) pairs, ordered by device name in code-unit order.
std::vector<std::pair<std::wstring, std::wstring>>
deviceTable(const std::shared_ptr<IVolumes>& volumes)
{
    std::vector<std::pair<std::wstring, std::wstring>> table;
    if (!volumes)
        return table;
    for (const auto& [device, drive] : volumes->driveMap())
        table.emplace_back(fromUtf8(device), fromUtf8(drive));
    std::sort(table.begin(), table.end());
    return table;
}

std::wstring ntPathToDosPath(const std::wstring& path,
                             const std::vector<std::pair<std::wstring, std::wstring>>& table)
{
    for (const auto& [device, drive] : table) {
        if (device.empty() || !startsWithNoCase(path, device))
            continue;
        if (path.size() == device.size() || path[device.size()] == L'\\')
            return drive + path.substr(device.size());
    }
    return path;
}

} // namespace

PSFilter::PSFilter(std::shared_ptr<IFilterDevice> device, std::shared_ptr<IVolumes> volumes)
    : m_device(std::move(device)), m_volumes(std::move(volumes))
{
    open();
}

PSFilter::~PSFilter() = default;

bool PSFilter::open()
{
    if (m_handle)
        return true;
    if (!m_device)
        return false;
    m_handle = vb::flow::openFilter(*m_device, m_readOnly);
    return m_handle != nullptr;
}

int PSFilter::accessMode()
{
    reconnect();
    if (!m_handle)
        return 0;
    return m_readOnly ? 1 : 2;
}

bool PSFilter::reconnect()
{
    // A handle whose device went away (the service stopped) is given up, so the access mode
    // says 0 and the next call finds the device again once it is back.
    if (m_handle && !m_handle->connected())
        m_handle.reset();
    if (!m_handle)
        open();
    return m_handle != nullptr;
}

void PSFilter::dropIfDisconnected()
{
    if (m_handle && !m_handle->connected())
        m_handle.reset();
}

void PSFilter::queryProcessPaths(
    std::function<void(quint64 pid, const std::wstring& dosPath)> onPath)
{
    if (!onPath || !reconnect())
        return;
    const auto table = deviceTable(m_volumes);
    vb::flow::readList(*m_handle, wire::CodeProcessPathsFirst, wire::CodeProcessPathsNext,
                       [&](const uint8_t* data, size_t length) {
                           wire::decodePathList(data, length,
                                                [&](quint64 pid, const std::wstring& path) {
                                                    onPath(pid, ntPathToDosPath(path, table));
                                                });
                       });
    dropIfDisconnected();
}

bool PSFilter::queryConnections(std::function<void(const ConnectionDataItem&)> onConnection,
                                std::function<void(const ConnectionDataHistoryItem&)> onHistory)
{
    if (!reconnect())
        return false;
    const bool ok = vb::flow::readList(
        *m_handle, wire::CodeConnectionsFirst, wire::CodeConnectionsNext,
        [&](const uint8_t* data, size_t length) {
            vb::flow::decodeConnectionChunk(data, length, [&](const wire::ConnectionItem& item) {
                if (!item.history) {
                    if (onConnection)
                        onConnection(item.live);
                } else if (onHistory) {
                    onHistory(ConnectionDataHistoryItem{item.live.processId, item.live.bytesIn,
                                                        item.live.bytesOut});
                }
            });
        });
    dropIfDisconnected();
    return ok;
}

bool PSFilter::sendPathRequest(quint32 code, const std::wstring& dosPath)
{
    std::wstring nt = dosPathToNtPath(m_volumes, dosPath.c_str());
    if (!nt.empty() && !(m_device && m_device->caseSensitivePaths()))
        std::transform(nt.begin(), nt.end(), nt.begin(), lowerChar);
    if (!reconnect())
        return false;
    std::vector<uint8_t> none;
    size_t returned = 0;
    const bool ok =
        m_handle->control(code, wire::encodeRequestPath(nt), none, 0, returned) == ErrSuccess;
    dropIfDisconnected();
    return ok;
}

bool PSFilter::blockPath(const std::wstring& dosPath)
{
    return sendPathRequest(wire::CodeBlock, dosPath);
}

bool PSFilter::unblockPath(const std::wstring& dosPath)
{
    return sendPathRequest(wire::CodeUnblock, dosPath);
}

bool PSFilter::block(const Platform& backends, const std::wstring& dosPath)
{
    PSFilter filter(backends.filterDevice, backends.volumes);
    return filter.blockPath(dosPath);
}

bool PSFilter::unblock(const Platform& backends, const std::wstring& dosPath)
{
    PSFilter filter(backends.filterDevice, backends.volumes);
    return filter.unblockPath(dosPath);
}

std::wstring dosPathToNtPath(const std::shared_ptr<IVolumes>& volumes, const wchar_t* dosPath)
{
    if (!dosPath)
        return std::wstring();
    std::wstring path(dosPath); // not const: returned as it is below, moved out
    const auto map =
        volumes ? volumes->driveMap() : std::vector<std::pair<std::string, std::string>>();
    // Without drive letters (no map, or the identity pair) a path already names the file as
    // the filter sees it.
    const bool identity = std::any_of(map.begin(), map.end(), [](const auto& pair) {
        return pair.first.empty() && pair.second.empty();
    });
    if (map.empty() || identity)
        return path;
    if (path.empty())
        return std::wstring();
    const std::wstring drive = std::wstring(1, path[0]) + L":";
    for (const auto& [device, letter] : map) {
        if (startsWithNoCase(fromUtf8(letter), drive) && letter.size() == 2)
            return fromUtf8(device) + (path.size() > 2 ? path.substr(2) : std::wstring());
    }
    return std::wstring();
}

bool installDriverService(const Platform& backends, const std::wstring& name,
                          const std::wstring& binaryPath)
{
    return vb::flow::installDriverService(backends.driverService.get(), toUtf8(name),
                                          toUtf8(binaryPath));
}

bool startDriverService(const Platform& backends, const std::wstring& name)
{
    return vb::flow::startDriverService(backends.driverService.get(), toUtf8(name));
}

bool removeDriverService(const Platform& backends, const std::wstring& name)
{
    return vb::flow::removeDriverService(backends.driverService.get(), toUtf8(name));
}

bool ensureDriver(const Platform& backends, const std::wstring& name,
                  const std::wstring& binaryPath)
{
    return vb::flow::ensureDriver(backends.driverService.get(), backends.filterDevice.get(),
                                  toUtf8(name), toUtf8(binaryPath));
}

std::wstring driverBinaryPath(const Platform& backends)
{
    const auto& elevation = backends.elevation;
    const auto& service = backends.driverService;
    const bool wow64 = elevation && elevation->isWow64();
    const std::string relative = service ? service->binaryRelativePath(wow64)
                                         : IDriverService::windowsBinaryRelativePath(wow64);
    return (SetsGeneral::appPath() + QLatin1Char('/') + QString::fromStdString(relative))
        .toStdWString();
}

namespace {
std::atomic<bool> g_firstProvisioning{true};
}

bool attemptDriverProvisioning(const Platform& backends)
{
    const auto& elevation = backends.elevation;
    if (!elevation || !elevation->isElevated())
        return false;
    if (g_firstProvisioning.exchange(false))
        return ensureDriver(backends, L"pswfp", driverBinaryPath(backends));
    return startDriverService(backends, L"pswfp");
}

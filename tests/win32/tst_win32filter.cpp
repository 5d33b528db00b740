// SPDX-License-Identifier: GPL-3.0-or-later
// The filter device and its driver service against a kernel driver of our own
// (testfilterdrv.c), installed in the wine prefix's service manager: the service's life and
// error numbers, the device's two opening modes, the list reads' buffer protocol through the
// real device, block requests, the provisioning policy, and a handle whose driver went away.
// The cases run in order on the one service.
#include "check.h"

#include "flow/driverpolicy.h"
#include "flow/listreader.h"
#include "platform/win32/win32filter.h"
#include "platform/win32/winapi.h"

#include <algorithm>
#include <sstream>
#include <tuple>

using namespace vb::platform;
using namespace vb::platform::win32;
namespace wire = vb::filterwire;

namespace {

const std::string ServiceName = "pswfp";

// The test driver's scripting code and its commands (see testfilterdrv.c).
constexpr uint32_t CodeScript = (0x8321u << 16) | (0x801u << 2);
enum Script : uint8_t {
    SetPaths = 1,
    SetConnections = 2,
    FailNextReads = 3,
    QueryBlocked = 4,
    Reset = 5
};

std::wstring exeFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

// The driver where the application keeps it, below its folder, copied there from the build.
std::string installedDriverPath()
{
    const std::string relative =
        IDriverService::windowsBinaryRelativePath(Win32Elevation().isWow64());
    const std::wstring folder = exeFolder();
    std::wstring target = folder + L"\\" + wideOf(relative);
    std::replace(target.begin(), target.end(), L'/', L'\\');
    for (size_t at = folder.size() + 1; (at = target.find(L'\\', at)) != std::wstring::npos; ++at)
        CreateDirectoryW(target.substr(0, at).c_str(), nullptr);
    CopyFileW((folder + L"\\testfilterdrv.sys").c_str(), target.c_str(), FALSE);
    // Forward slashes, as the library joins the folder and the relative path.
    return utf8Of(folder) + "/" + relative;
}

std::unique_ptr<IFilterHandle> openReadWrite()
{
    Win32FilterDevice device;
    uint32_t error = 0;
    return device.open(true, error);
}

uint32_t script(IFilterHandle& h, Script command, const std::vector<uint8_t>& argument = {},
                std::vector<uint8_t>* reply = nullptr)
{
    std::vector<uint8_t> in{command};
    in.insert(in.end(), argument.begin(), argument.end());
    std::vector<uint8_t> out;
    size_t returned = 0;
    const uint32_t error = h.control(CodeScript, in, out, reply ? 4096 : 0, returned);
    if (reply)
        reply->assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(returned));
    return error;
}

std::vector<uint8_t> le32(uint32_t a, uint32_t b)
{
    std::vector<uint8_t> out;
    for (uint32_t v : {a, b})
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

// Passes calls on and keeps what each asked and got.
struct Recorder : IFilterHandle
{
    explicit Recorder(IFilterHandle& h) : inner(h) {}
    uint32_t control(uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out,
                     size_t capacity, size_t& returned) override
    {
        const uint32_t error = inner.control(code, in, out, capacity, returned);
        calls.emplace_back(code, capacity, error);
        return error;
    }
    IFilterHandle& inner;
    std::vector<std::tuple<uint32_t, size_t, uint32_t>> calls;
};

std::vector<wire::ConnectionItem> connections(int n)
{
    std::vector<wire::ConnectionItem> items;
    for (int i = 0; i < n; ++i) {
        wire::ConnectionItem item;
        item.history = i % 7 == 3;
        item.live.processId = 1000u + static_cast<unsigned>(i);
        if (!item.history) {
            item.live.identityWord1 = 0xC0A80000u + static_cast<uint32_t>(i);
            item.live.identityHalf1 = static_cast<uint16_t>(40000 + i);
            item.live.identityHalf2 = 443;
            item.live.identityWord2 = 0x08080808u;
            item.live.identityHalf3 = static_cast<uint16_t>(i * 3);
        }
        item.live.bytesIn = 0x100000000ull * static_cast<unsigned>(i) + 17;
        item.live.bytesOut = 5ull * static_cast<unsigned>(i);
        items.push_back(item);
    }
    return items;
}

std::vector<wire::ProcessPath> paths(int n, size_t padding)
{
    std::vector<wire::ProcessPath> records;
    for (int i = 0; i < n; ++i)
        records.push_back({4u + 4u * static_cast<unsigned>(i),
                           "\\Device\\HarddiskVolume1\\apps\\" + std::string(padding, 'x') +
                               std::to_string(i) + "\\app.exe"});
    return records;
}

std::vector<uint8_t> pathRecords(const std::vector<wire::ProcessPath>& records)
{
    std::vector<uint8_t> out;
    for (const auto& r : records) {
        const auto rec = wire::encodePathRecord(r.pid, r.path);
        out.insert(out.end(), rec.begin(), rec.end());
    }
    return out;
}

// A kernel driver started on demand whose failures are ignored, named by the service's name.
void checkConfiguration(const std::string& path)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"pswfp", SERVICE_QUERY_CONFIG);
    std::vector<uint8_t> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    const BOOL ok = QueryServiceConfigW(service, config, 8192, &needed);
    VB_CHECK(ok);
    if (ok) {
        VB_CHECK_EQ(config->dwServiceType, DWORD{SERVICE_KERNEL_DRIVER});
        VB_CHECK_EQ(config->dwStartType, DWORD{SERVICE_DEMAND_START});
        VB_CHECK_EQ(config->dwErrorControl, DWORD{SERVICE_ERROR_IGNORE});
        VB_CHECK_EQ(utf8Of(config->lpDisplayName), ServiceName);
        std::string native = path;
        std::replace(native.begin(), native.end(), '/', '\\');
        VB_CHECK_EQ(utf8Of(config->lpBinaryPathName), native);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// The service's life through its error numbers; ends with the driver running.
void serviceLifecycle()
{
    Win32DriverService service;
    service.remove(ServiceName); // a previous run's, if it was cut short
    VB_CHECK(service.state(ServiceName) == ServiceState::Missing);
    VB_CHECK_EQ(service.start(ServiceName), uint32_t{ErrServiceDoesNotExist});
    VB_CHECK_EQ(service.remove(ServiceName), uint32_t{ErrServiceDoesNotExist});
    VB_CHECK(!openReadWrite());

    const std::string path = installedDriverPath();
    VB_REQUIRE(service.install(ServiceName, path) == ErrSuccess);
    VB_CHECK(service.state(ServiceName) == ServiceState::Stopped);
    checkConfiguration(path);
    VB_CHECK_EQ(service.install(ServiceName, path), uint32_t{ErrServiceExists});
    VB_CHECK_EQ(service.start(ServiceName), uint32_t{ErrSuccess});
    VB_CHECK(service.state(ServiceName) == ServiceState::Running);
    VB_CHECK_EQ(service.start(ServiceName), uint32_t{ErrServiceAlreadyRunning});
    VB_CHECK(openReadWrite() != nullptr);
}

void openModes()
{
    Win32FilterDevice device;
    bool readOnly = true;
    auto rw = vb::flow::openFilter(device, readOnly);
    VB_REQUIRE(rw);
    VB_CHECK(!readOnly);
    VB_REQUIRE(script(*rw, Reset) == ErrSuccess);

    // Write codes need a handle opened for writing; the list reads do not.
    uint32_t error = 0;
    auto ro = device.open(false, error);
    VB_REQUIRE(ro);
    std::vector<uint8_t> out;
    size_t returned = 0;
    const auto block = wire::encodeRequestPath(L"\\device\\x.exe");
    VB_CHECK_EQ(ro->control(wire::CodeBlock, block, out, 0, returned), uint32_t{ErrAccessDenied});
    VB_CHECK_EQ(rw->control(wire::CodeBlock, block, out, 0, returned), uint32_t{ErrSuccess});
    VB_CHECK(vb::flow::readList(*ro, wire::CodeConnectionsFirst, wire::CodeConnectionsNext,
                                [](const uint8_t*, size_t) {}));
    VB_CHECK(ro->connected()); // refused is not gone

    // Under wine 8 a driver that refused writers did not make CreateFileW fail, so a file that
    // another handle holds stands in for the device: who may open it then follows from the access
    // and sharing the two opens ask for.
    struct Holder
    {
        const char* name;
        DWORD access, share;
        bool opens, readOnly;
    };
    const Holder holders[] = {
        {"nobody", 0, 0, true, false},
        {"a reader sharing reading", GENERIC_READ, FILE_SHARE_READ, true, true},
        // The read-only open shares no writing with it.
        {"a writer sharing reading", GENERIC_WRITE, FILE_SHARE_READ, false, true},
    };
    const std::wstring file = exeFolder() + L"\\held-device";
    for (const auto& holder : holders) {
        Handle held(CreateFileW(file.c_str(), holder.access, holder.share, nullptr, CREATE_ALWAYS,
                                0, nullptr));
        VB_REQUIRE(held);
        if (holder.access == 0)
            held.reset();
        Win32FilterDevice heldDevice(file);
        const bool opens = vb::flow::openFilter(heldDevice, readOnly) != nullptr;
        if (opens != holder.opens || readOnly != holder.readOnly)
            vbtest::fail(__FILE__, __LINE__,
                         std::string(holder.name) + ": opens " + std::to_string(opens) +
                             " read-only " + std::to_string(readOnly));
    }
    DeleteFileW(file.c_str());

    Win32FilterDevice absent(L"\\\\.\\NoSuchFilterDevice");
    VB_CHECK(!vb::flow::openFilter(absent, readOnly));
    VB_CHECK(!absent.open(false, error));
    VB_CHECK_EQ(error, uint32_t{ErrFileNotFound});
}

using Calls = std::vector<std::tuple<uint32_t, size_t, uint32_t>>;

std::string text(const Calls& calls)
{
    std::ostringstream s;
    for (const auto& [code, capacity, error] : calls)
        s << std::hex << code << std::dec << "/" << capacity << "/" << error << " ";
    return s.str();
}

std::vector<std::string> text(const std::vector<wire::ProcessPath>& records)
{
    std::vector<std::string> out;
    for (const auto& r : records)
        out.push_back(std::to_string(r.pid) + " " + r.path);
    return out;
}

// Lists of every shape through the real device: what the reader asked and got, and what it
// delivered decoded (everything it was given when the read succeeds, here).
void listReads()
{
    struct Row
    {
        const char* name;
        bool connectionList;
        std::vector<wire::ConnectionItem> items;
        std::vector<wire::ProcessPath> records;
        uint32_t failReads; // the next reads answer "invalid function"
        bool ok;
        Calls calls; // code, capacity and error of each call
    };
    const uint32_t P1 = wire::CodeProcessPathsFirst, PN = wire::CodeProcessPathsNext;
    const uint32_t C1 = wire::CodeConnectionsFirst, CN = wire::CodeConnectionsNext;
    const std::vector<Row> rows{
        // (4096 - 41) / 39 = 103 items a chunk.
        {"connections in three chunks",
         true,
         connections(250),
         {},
         0,
         true,
         Calls{{C1, 4096, 234}, {CN, 4096, 234}, {CN, 4096, 0}}},
        {"no connections", true, {}, {}, 0, true, Calls{{C1, 4096, 0}}},
        {"one connection", true, connections(1), {}, 0, true, Calls{{C1, 4096, 0}}},
        {"connections, read refused", true, connections(3), {}, 1, false, Calls{{C1, 4096, 1}}},
        // Records of about 210 bytes, 19 a chunk.
        {"paths in three chunks",
         false,
         {},
         paths(45, 60),
         0,
         true,
         Calls{{P1, 4096, 234}, {PN, 4096, 234}, {PN, 4096, 0}}},
        {"no paths", false, {}, {}, 0, true, Calls{{P1, 4096, 0}}},
        // One record of about 5 KB fits only the doubled buffer.
        {"a path that needs the bigger buffer",
         false,
         {},
         paths(1, 2500),
         0,
         true,
         Calls{{P1, 4096, 122}, {PN, 8192, 0}}},
        {"a path too long for any buffer",
         false,
         {},
         paths(1, 4200),
         0,
         false,
         Calls{{P1, 4096, 122}, {PN, 8192, 122}}},
    };
    auto h = openReadWrite();
    VB_REQUIRE(h);
    for (const auto& row : rows) {
        std::vector<uint8_t> content;
        if (row.connectionList) {
            for (const auto& c : row.items)
                wire::appendConnectionItem(content, c);
        } else {
            content = pathRecords(row.records);
        }
        VB_REQUIRE(script(*h, row.connectionList ? SetConnections : SetPaths, content) ==
                   ErrSuccess);
        VB_REQUIRE(script(*h, FailNextReads, le32(row.failReads, 0xC0000010u)) == ErrSuccess);
        Recorder rec(*h);
        std::vector<wire::ConnectionItem> gotItems;
        std::vector<wire::ProcessPath> gotPaths;
        const bool ok =
            row.connectionList
                ? vb::flow::readList(rec, C1, CN,
                                     [&](const uint8_t* data, size_t length) {
                                         vb::flow::decodeConnectionChunk(
                                             data, length,
                                             [&](const auto& c) { gotItems.push_back(c); });
                                     })
                : vb::flow::readList(rec, P1, PN, [&](const uint8_t* data, size_t length) {
                      wire::decodePathList(data, length, [&](auto pid, const std::wstring& p) {
                          gotPaths.push_back({pid, utf8Of(p)});
                      });
                  });
        const bool all = row.ok;
        const bool delivered =
            row.connectionList
                ? gotItems == (all ? row.items : decltype(row.items){})
                : text(gotPaths) == text(all ? row.records : decltype(row.records){});
        if (ok != row.ok || rec.calls != row.calls || !delivered)
            vbtest::fail(__FILE__, __LINE__,
                         std::string(row.name) + ": calls " + text(rec.calls) + "expected " +
                             text(row.calls) + "ok " + std::to_string(ok) + " delivered " +
                             std::to_string(gotItems.size() + gotPaths.size()));
    }
}

std::vector<std::wstring> blockedPaths(IFilterHandle& h)
{
    std::vector<uint8_t> reply;
    std::vector<std::wstring> out;
    if (script(h, QueryBlocked, {}, &reply) != ErrSuccess)
        return {L"(query failed)"};
    std::wstring current;
    for (size_t i = 0; i + 1 < reply.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(reply[i] | (reply[i + 1] << 8));
        if (c == 0) {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return out;
}

void blockRequests()
{
    auto h = openReadWrite();
    VB_REQUIRE(h);
    VB_REQUIRE(script(*h, Reset) == ErrSuccess);
    const std::wstring a = L"\\device\\harddiskvolume1\\games\\game.exe";
    const std::wstring b = L"\\device\\harddiskvolume2\\tools\\sync.exe";
    std::vector<uint8_t> none;
    size_t returned = 0;
    const auto send = [&](uint32_t code, const std::vector<uint8_t>& in) {
        return h->control(code, in, none, 0, returned);
    };
    VB_CHECK_EQ(send(wire::CodeBlock, wire::encodeRequestPath(a)), uint32_t{ErrSuccess});
    VB_CHECK_EQ(send(wire::CodeBlock, wire::encodeRequestPath(b)), uint32_t{ErrSuccess});
    VB_CHECK(blockedPaths(*h) == (std::vector<std::wstring>{a, b}));
    VB_CHECK_EQ(send(wire::CodeUnblock, wire::encodeRequestPath(a)), uint32_t{ErrSuccess});
    VB_CHECK(blockedPaths(*h) == std::vector<std::wstring>{b});
    // The terminator alone is a request too (a drive without a device).
    VB_CHECK_EQ(send(wire::CodeBlock, wire::encodeRequestPath(L"")), uint32_t{ErrSuccess});
    VB_CHECK(blockedPaths(*h) == (std::vector<std::wstring>{b, L""}));
    // A path without its terminator is refused.
    auto cut = wire::encodeRequestPath(a);
    cut.resize(cut.size() - 2);
    VB_CHECK_EQ(send(wire::CodeBlock, cut), uint32_t{ErrInvalidParameter});
}

// The policy over the real manager: a device that is there is left alone; a missing service
// is installed and started; a binary that cannot load fails after one reinstall.
void provisioning()
{
    Win32DriverService service;
    Win32FilterDevice device;
    const std::string path = installedDriverPath();
    VB_CHECK(vb::flow::ensureDriver(&service, &device, ServiceName, "C:/nowhere/none.sys"));
    VB_CHECK(service.state(ServiceName) == ServiceState::Running);

    VB_REQUIRE(service.remove(ServiceName) == ErrSuccess);
    VB_CHECK(!openReadWrite());
    VB_CHECK(vb::flow::ensureDriver(&service, &device, ServiceName, path));
    VB_CHECK(openReadWrite() != nullptr);

    VB_REQUIRE(service.remove(ServiceName) == ErrSuccess);
    VB_CHECK(!vb::flow::ensureDriver(&service, &device, ServiceName, "C:/nowhere/none.sys"));
    VB_CHECK(!openReadWrite());
    // An installed service that only needs its start.
    VB_REQUIRE(service.remove(ServiceName) == ErrSuccess);
    VB_REQUIRE(service.install(ServiceName, path) == ErrSuccess);
    VB_CHECK(vb::flow::installDriverService(&service, ServiceName, path));
    VB_CHECK(service.state(ServiceName) == ServiceState::Running);
}

// The service removed under an open handle: the handle learns it on its next call.
void deviceGoesAway()
{
    Win32DriverService service;
    auto h = openReadWrite();
    VB_REQUIRE(h);
    VB_CHECK(h->connected());
    VB_REQUIRE(service.remove(ServiceName) == ErrSuccess);
    VB_CHECK(service.state(ServiceName) == ServiceState::Missing);
    const bool ok = vb::flow::readList(*h, wire::CodeConnectionsFirst, wire::CodeConnectionsNext,
                                       [](const uint8_t*, size_t) {});
    VB_CHECK(!ok);
    VB_CHECK(!h->connected());
    VB_CHECK(!openReadWrite());
    VB_CHECK_EQ(service.start(ServiceName), uint32_t{ErrServiceDoesNotExist});
    VB_CHECK_EQ(service.remove(ServiceName), uint32_t{ErrServiceDoesNotExist});
}

void elevation()
{
    // Elevated exactly when the service manager grants everything, as it does under wine.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    VB_CHECK_EQ(Win32Elevation().isElevated(), manager != nullptr);
    if (manager)
        CloseServiceHandle(manager);
    // This is a 64-bit program: never under WOW64.
    VB_CHECK(!Win32Elevation().isWow64());
}

} // namespace

int main()
{
    return vbtest::run({
        {"elevation", elevation},
        {"service lifecycle", serviceLifecycle},
        {"open modes", openModes},
        {"list reads", listReads},
        {"block requests", blockRequests},
        {"provisioning", provisioning},
        {"device goes away", deviceGoesAway},
    });
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The library's side of the filter service, from the command line, for the service's tests:
// everything goes through PSFilter and the traffic rows as the sampling worker uses them.
//   flowctl DIR mode | sums | rows | conns | paths | watch READS | block PATH | unblock PATH
//               | ensure BINARY
#include "flow/flowdataproc.h"
#include "flow/psfilter.h"
#include "platform/linux/filterclient.h"
#include "platform/platform.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: flowctl DIR mode|sums|rows|paths|block PATH|unblock PATH\n");
        return 2;
    }
    vb::platform::Platform p;
    p.filterDevice = std::make_shared<vb::platform::linux_::SocketFilterDevice>(argv[1]);
    const std::string cmd = argv[2];
    PSFilter filter(p.filterDevice);
    if (cmd == "mode") {
        std::printf("mode=%d\n", filter.accessMode());
        return 0;
    }
    // Per process: live connection count and bytes, plus the first history entry.
    auto sums = [&](bool rows) {
        struct Sum
        {
            unsigned count = 0;
            quint64 in = 0;
            quint64 out = 0;
        };
        std::map<quint64, Sum> live;
        std::map<quint64, ConnectionDataHistoryItem> history;
        const bool ok = filter.queryConnections(
            [&](const ConnectionDataItem& c) {
                Sum& s = live[c.processId];
                ++s.count;
                s.in += c.bytesIn;
                s.out += c.bytesOut;
            },
            [&](const ConnectionDataHistoryItem& h) { history.emplace(h.processId, h); });
        std::printf("query=%d\n", ok ? 1 : 0);
        std::map<quint64, Sum> total = live;
        for (const auto& [pid, h] : history) {
            Sum& s = total[pid];
            s.in += h.bytesIn;
            s.out += h.bytesOut;
        }
        for (const auto& [pid, s] : total) {
            if (!rows) {
                std::printf("pid=%llu count=%u in=%llu out=%llu\n",
                            static_cast<unsigned long long>(pid), s.count,
                            static_cast<unsigned long long>(s.in),
                            static_cast<unsigned long long>(s.out));
            } else {
                FlowDataProc row(pid, s.count, s.in, 0, s.out, 0, 0, s.count == 0,
                                 ProcessPathSource{p.filterDevice, {}});
                std::printf("row pid=%llu count=%u in=%llu out=%llu dead=%d path=%s\n",
                            static_cast<unsigned long long>(row.pid), row.connectionCount,
                            static_cast<unsigned long long>(row.flowIn),
                            static_cast<unsigned long long>(row.flowOut), row.dead ? 1 : 0,
                            row.path.toUtf8().constData());
            }
        }
        return ok;
    };
    if (cmd == "sums" || cmd == "rows")
        return sums(cmd == "rows") ? 0 : 1;
    if (cmd == "sums-until" && argc == 5) {
        // One process reading again and again (it forks nothing), until FILE exists.
        const int most = std::atoi(argv[4]);
        for (int i = 0; i < most && access(argv[3], F_OK) != 0; ++i)
            sums(false);
        return 0;
    }
    if (cmd == "conns") {
        const bool ok = filter.queryConnections(
            [](const ConnectionDataItem& c) {
                std::printf("conn pid=%llu w1=%u h1=%u h2=%u w2=%u h3=%u in=%llu out=%llu\n",
                            static_cast<unsigned long long>(c.processId), c.identityWord1,
                            c.identityHalf1, c.identityHalf2, c.identityWord2, c.identityHalf3,
                            static_cast<unsigned long long>(c.bytesIn),
                            static_cast<unsigned long long>(c.bytesOut));
            },
            nullptr);
        return ok ? 0 : 1;
    }
    if (cmd == "watch" && argc == 4) {
        // One filter held across reads, as the sampling worker holds it.
        const int reads = std::atoi(argv[3]);
        for (int i = 0; i < reads && i < 600; ++i) {
            unsigned long long in = 0;
            const bool ok = filter.queryConnections(
                [&](const ConnectionDataItem& c) { in += c.bytesIn; },
                [&](const ConnectionDataHistoryItem& h) { in += h.bytesIn; });
            std::printf("read=%d ok=%d mode=%d\n", i, ok ? 1 : 0, filter.accessMode());
            std::fflush(stdout);
            usleep(300000);
        }
        return 0;
    }
    if (cmd == "paths") {
        int n = 0;
        filter.queryProcessPaths([&](quint64 pid, const std::wstring& path) {
            ++n;
            std::printf("path pid=%llu %s\n", static_cast<unsigned long long>(pid),
                        QString::fromStdWString(path).toUtf8().constData());
        });
        std::printf("records=%d\n", n);
        return 0;
    }
    if ((cmd == "block" || cmd == "unblock") && argc == 4) {
        const std::wstring path = QString::fromLocal8Bit(argv[3]).toStdWString();
        const bool ok = cmd == "block" ? filter.blockPath(path) : filter.unblockPath(path);
        std::printf("%s=%d\n", cmd.c_str(), ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    if (cmd == "ensure" && argc == 4) {
        // A root ball's first provisioning, through the machine's service manager.
        vb::platform::Platform native = vb::platform::makeNative();
        native.filterDevice = p.filterDevice;
        native.driverService = std::make_shared<vb::platform::linux_::FilterService>();
        const bool ok =
            ensureDriver(native, L"pswfp", QString::fromLocal8Bit(argv[3]).toStdWString());
        std::printf("ensure=%d\n", ok ? 1 : 0);
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "flowctl: unknown command\n");
    return 2;
}

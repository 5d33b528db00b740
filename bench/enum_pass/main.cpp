// SPDX-License-Identifier: GPL-3.0-or-later
// Times the boost lists' enumeration pass with 500 extra sleeping processes, against reading
// the same process set with ps. Prints one figure a line, the pass time last.
#include "helper/setsgeneral.h"
#include "procs/procenum.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kSleepers = 500;
constexpr int kRounds = 25;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int processCount(const vb::platform::Platform& backends)
{
    int n = 0;
    enumProcessIds(backends.processes, [&n](vb::platform::ProcessId) { return ++n > 0; });
    return n;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<pid_t> sleepers;
    for (int i = 0; i < kSleepers; ++i) {
        const pid_t p = ::fork();
        if (p == 0) {
            ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (p > 0)
            sleepers.push_back(p);
    }

    // Every test unit of the box is named, in both modes.
    QTemporaryDir appDir;
    {
        QFile f(appDir.filePath(QStringLiteral("pulsar.app")));
        if (f.open(QIODevice::WriteOnly))
            for (int i = 1; i <= 30; ++i)
                f.write(QStringLiteral("vbt-bulk-%1.service=%2\n")
                            .arg(i)
                            .arg(i % 2 ? 3 : 0x13)
                            .toUtf8());
    }
    SetsGeneral::setAppPathForTests(appDir.path());
    loadUserConfig();

    const vb::platform::Platform native = vb::platform::makeNative();
    systemWhiteJudge = std::make_shared<JudgeSystemWhite>(native.processes, native.windows);
    auto office = std::make_shared<JudgeUserOffice>();
    auto game = std::make_shared<JudgeUserGame>();
    QList<ProcListItem> officeRows, gameRows;
    officeRows =
        *enumerateForList(native, office, officeRows); // warm caches and the bus connection
    gameRows = *enumerateForList(native, game, gameRows);

    std::vector<double> passMs;
    QElapsedTimer t;
    for (int r = 0; r < kRounds; ++r) {
        t.start();
        officeRows = *enumerateForList(native, office, officeRows);
        passMs.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        gameRows = *enumerateForList(native, game, gameRows);
        passMs.push_back(t.nsecsElapsed() / 1e6);
    }

    std::vector<double> psMs;
    for (int r = 0; r < kRounds; ++r) {
        QProcess ps;
        t.start();
        ps.start(QStringLiteral("ps"),
                 {QStringLiteral("-e"), QStringLiteral("-o"), QStringLiteral("pid=,rss=,comm=")});
        ps.waitForFinished(10000);
        ps.readAllStandardOutput();
        psMs.push_back(t.nsecsElapsed() / 1e6);
    }

    const int procs = processCount(native);
    for (pid_t p : sleepers)
        ::kill(p, SIGKILL);
    for (pid_t p : sleepers)
        ::waitpid(p, nullptr, 0);
    SetsGeneral::setAppPathForTests(QString());

    const double pass = median(passMs);
    const double psRun = median(psMs);
    std::printf("processes: %d\n", procs);
    std::printf("office rows: %lld\n", static_cast<long long>(officeRows.size()));
    std::printf("game rows: %lld\n", static_cast<long long>(gameRows.size()));
    std::printf("per process: %.2f us\n", pass * 1000.0 / std::max(procs, 1));
    std::printf("ps: %.2f ms\n", psRun);
    std::printf("pass/ps: %.2f\n", psRun > 0 ? pass / psRun : 0.0);
    std::printf("pass: %.2f ms\n", pass);
    return 0;
}

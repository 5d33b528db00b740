// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up cost of the demo host against a bare QQuickView: time to the first frame and the
// resident memory once idle. The bare view shows the ball's two lines of text (memory and CPU
// load), as the ball's first frame does; the empty bare view is printed beside it, for the part
// of the start that is Qt's alone. Starts its own Xvfb when there is no display.
// Run as root, the host would provision the real filter service on this machine and leave it
// running: the benchmark confines itself first, as the end-to-end tests do (tests/lib/
// xsession.sh), in private mount and pid namespaces where /run, /var/lib and the build's wfp
// folder are empty, so the host finds no service to provision and everything ends with it.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

namespace {

double residentMb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

struct Run
{
    double firstFrameMs = -1;
    double rssMb = -1;
};

Run runOnce(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    Run r;
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return r;
    QByteArray out;
    while (t.elapsed() < 20000 && !out.contains("ball shown")) {
        p.waitForReadyRead(50);
        out += p.readAll();
    }
    if (out.contains("ball shown"))
        r.firstFrameMs = double(t.nsecsElapsed()) / 1e6;
    QThread::msleep(3000); // idle: let start-up allocations settle
    r.rssMb = residentMb(p.processId());
    p.terminate();
    if (!p.waitForFinished(5000))
        p.kill();
    p.waitForFinished(2000);
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Re-runs this program confined when it runs as root; returns only when no confinement is
// needed, and ends the program when the confinement cannot be had.
void confineWhenRoot()
{
    if (::geteuid() != 0 || std::getenv("VB_CONFINED"))
        return;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::perror("bench_startup: cannot find itself");
        std::exit(2);
    }
    self[n] = '\0';
    ::setenv("VB_CONFINED", "1", 1);
    const char* script = "mount -t tmpfs vb-run /run && mount -t tmpfs vb-varlib /var/lib && "
                         "{ [ ! -d \"$1/wfp\" ] || mount -t tmpfs vb-nowfp \"$1/wfp\"; } && "
                         "exec \"$0\"";
    const char* args[] = {"unshare", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc",
                          "/bin/sh", "-c",      script,  self,     VB_BIN_DIR,     nullptr};
    ::execvp("unshare", const_cast<char* const*>(args));
    std::perror("bench_startup: cannot confine itself with unshare");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    confineWhenRoot();
    QCoreApplication app(argc, argv);
    const int rounds = 5;
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess xvfb;
    if (env.value(QStringLiteral("DISPLAY")).isEmpty()) {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":171"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("1280x800x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QThread::msleep(800);
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":171"));
    }
    const QString bin = QStringLiteral(VB_BIN_DIR);
    std::vector<double> emptyMs, bareMs, bareMb, hostMs, hostMb;
    for (int i = 0; i < rounds; ++i) {
        const Run e = runOnce(bin + QStringLiteral("/bench_bare_view"), {}, env);
        const Run b =
            runOnce(bin + QStringLiteral("/bench_bare_view"), {QStringLiteral("--live")}, env);
        const Run h = runOnce(bin + QStringLiteral("/verdant-ball-host"), {}, env);
        emptyMs.push_back(e.firstFrameMs);
        bareMs.push_back(b.firstFrameMs);
        bareMb.push_back(b.rssMb);
        hostMs.push_back(h.firstFrameMs);
        hostMb.push_back(h.rssMb);
    }
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(3000);
    }
    const double ems = median(emptyMs), bms = median(bareMs), hms = median(hostMs);
    const double bmb = median(bareMb), hmb = median(hostMb);
    std::printf("empty bare view first frame: %.1f ms\n", ems);
    std::printf("bare view first frame: %.1f ms\n", bms);
    std::printf("host first frame: %.1f ms\n", hms);
    std::printf("bare view idle resident: %.1f MB\n", bmb);
    std::printf("host idle resident: %.1f MB\n", hmb);
    std::printf("resident ratio host/bare: %.2f\n", bmb > 0 ? hmb / bmb : -1);
    std::printf("first frame ratio host/empty bare view: %.2f\n", ems > 0 ? hms / ems : -1);
    std::printf("first frame ratio host/bare: %.2f\n", bms > 0 ? hms / bms : -1);
    return hms > 0 ? 0 : 1;
}

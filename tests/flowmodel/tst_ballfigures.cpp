// SPDX-License-Identifier: GPL-3.0-or-later
// The ball as the host shows it, on a real X server: its RAM and CPU lines follow a memory
// hog and CPU spinners that the test starts, agreeing with the test's own reading of /proc.
// Run by e2e_ballfigures.sh, which provides the display and keeps the test confined.
#include "../lib/spinner.h"
#include "helper/baseview.h"
#include "helper/hostenvironment.h"
#include "lib/verdantball.h"

#include <QFile>
#include <QLibrary>
#include <QProcess>
#include <QQuickItem>
#include <QRegularExpression>
#include <QtTest>

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {
// The kernel's own memory load: 100 * (MemTotal - MemAvailable) / MemTotal.
struct Meminfo
{
    quint64 totalKb = 0;
    quint64 availKb = 0;
    int load() const { return totalKb ? int((totalKb - availKb) * 100 / totalKb) : -1; }
};

Meminfo readMeminfo()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    Meminfo m;
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.simplified().split(' ');
        if (w.size() >= 2 && w[0] == "MemTotal:")
            m.totalKb = w[1].toULongLong();
        if (w.size() >= 2 && w[0] == "MemAvailable:")
            m.availKb = w[1].toULongLong();
    }
    return m;
}

pid_t startHog(size_t bytes)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::alarm(120); // never outlives a test that died
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        ::_exit(1);
    std::memset(p, 0x5a, bytes); // resident, not just reserved
    for (;;)
        ::pause();
}

void stop(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// The summed CPU line of /proc/stat: busy and total ticks.
std::pair<quint64, quint64> cpuTicks()
{
    QFile f(QStringLiteral("/proc/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> w = f.readLine().simplified().split(' ');
    quint64 total = 0, idle = 0;
    for (int i = 1; i < w.size() && i <= 8; ++i) {
        total += w[i].toULongLong();
        if (i == 4 || i == 5)
            idle += w[i].toULongLong();
    }
    return {total - idle, total};
}

// The number in "RAM: 42%", or -1.
int percentOf(const QString& text, const char* label)
{
    const QRegularExpression re(QStringLiteral("^%1: (\\d+)%$").arg(QLatin1String(label)));
    const auto m = re.match(text);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}
} // namespace

class TestBallFigures : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void figuresShowAtAll();
    void ramFollowsAMemoryHog();
    void cpuFollowsSpinners();

private:
    int ram() const { return percentOf(m_ram->property("text").toString(), "RAM"); }
    int cpu() const { return percentOf(m_cpu->property("text").toString(), "CPU"); }
    void shot(const QString& name);

    QLibrary m_lib{QStringLiteral(VB_BALL_LIBRARY)};
    const VerdantBallApi* m_api = nullptr;
    BaseView* m_host = nullptr;
    BaseView* m_ball = nullptr;
    QObject* m_ram = nullptr;
    QObject* m_cpu = nullptr;
    std::vector<pid_t> m_children;
};

void TestBallFigures::initTestCase()
{
    QVERIFY2(m_lib.load(), qPrintable(m_lib.errorString()));
    auto entry = reinterpret_cast<VerdantBallEntry>(m_lib.resolve(kVerdantBallEntry));
    QVERIFY(entry);
    m_api = entry();
    HostEnvironment::instance().translator()->addCatalogue(QStringLiteral("verdantball"));
    m_host = new BaseView;
    m_ball = m_api->createBall(m_host);
    QVERIFY(m_ball);
    m_ball->setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    m_api->showAtPos(m_ball);
    QVERIFY(QTest::qWaitForWindowExposed(m_ball, 10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_ball->rootObject() && m_ball->rootObject()->findChild<QObject*>(
                                                         QStringLiteral("ramText")),
                             10000);
    m_ram = m_ball->rootObject()->findChild<QObject*>(QStringLiteral("ramText"));
    m_cpu = m_ball->rootObject()->findChild<QObject*>(QStringLiteral("cpuText"));
    QVERIFY(m_cpu);
}

void TestBallFigures::cleanupTestCase()
{
    for (pid_t p : m_children)
        stop(p);
    if (m_api && m_ball)
        m_api->destroyBall(m_ball);
    delete m_host;
}

void TestBallFigures::shot(const QString& name)
{
    const QString dir = qEnvironmentVariable("VB_ARTEFACTS", QStringLiteral("/tmp"));
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    // Let the window draw what the bindings now say.
    QTest::qWait(500);
    QProcess import;
    import.start(QStringLiteral("import"),
                 {QStringLiteral("-window"), QString::number(m_ball->winId()), file});
    QVERIFY(import.waitForFinished(20000));
    QCOMPARE(import.exitCode(), 0);
    qInfo("screenshot: %s", qPrintable(file));
}

void TestBallFigures::figuresShowAtAll()
{
    // Before the first sample both read 0; the first one arrives about a second later.
    QTRY_VERIFY_WITH_TIMEOUT(ram() > 0, 10000);
    QVERIFY(cpu() >= 0 && cpu() <= 100);
    const int own = readMeminfo().load();
    QVERIFY2(qAbs(ram() - own) <= 3,
             qPrintable(QStringLiteral("ball %1, /proc %2").arg(ram()).arg(own)));
    shot(QStringLiteral("ball-figures-idle"));
}

void TestBallFigures::ramFollowsAMemoryHog()
{
    const Meminfo before = readMeminfo();
    QVERIFY(before.totalKb > 0);
    // A quarter of what is available, at most 4 GiB: a clear rise on any machine.
    const quint64 hogKb = qMin<quint64>(before.availKb / 4, quint64(4) << 20);
    const int rise = int(hogKb * 100 / before.totalKb);
    QVERIFY2(rise >= 5, "too little memory available for a visible rise");
    const int start = ram();
    const pid_t hog = startHog(size_t(hogKb) * 1024);
    m_children.push_back(hog);
    // The figure follows the machine's load, which now includes the hog.
    QTRY_VERIFY_WITH_TIMEOUT(ram() >= start + rise - 3, 20000);
    const int own = readMeminfo().load();
    QVERIFY2(qAbs(ram() - own) <= 3,
             qPrintable(QStringLiteral("ball %1, /proc %2").arg(ram()).arg(own)));
    shot(QStringLiteral("ball-figures-memory-hog"));
    stop(hog);
    m_children.pop_back();
    QTRY_VERIFY_WITH_TIMEOUT(ram() <= readMeminfo().load() + 3 && ram() < start + rise - 3, 20000);
}

void TestBallFigures::cpuFollowsSpinners()
{
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    QVERIFY(cores >= 1);
    for (int c = 0; c < cores; ++c)
        m_children.push_back(vb::test::startSpinner(c));
    // Every core busy: whatever else runs, the machine is (nearly) fully used.
    QTRY_VERIFY_WITH_TIMEOUT(cpu() >= 90, 20000);
    shot(QStringLiteral("ball-figures-cpu-spinners"));
    for (pid_t p : m_children)
        stop(p);
    m_children.clear();
    // Back down once they are gone. Other users of this machine may keep it busy: then the
    // figure must agree with the machine's own count instead.
    bool followed = false;
    auto last = cpuTicks();
    for (int second = 0; second < 20 && !followed; ++second) {
        QTest::qWait(1000);
        const auto now = cpuTicks();
        const quint64 dt = now.second - last.second;
        const int own = dt ? int((now.first - last.first) * 100 / dt) : -1;
        last = now;
        if (cpu() < 90)
            followed = true;
        else if (own >= 85 && qAbs(cpu() - own) <= 15) {
            qInfo("the machine stays busy without the spinners: ball %d %%, /proc %d %%", cpu(),
                  own);
            followed = true;
        }
    }
    QVERIFY(followed);
}

QTEST_MAIN(TestBallFigures)
#include "tst_ballfigures.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// What the Boost Panel costs the GUI thread: from a click on the ball to the panel's first
// frame, and one traffic update of 200 rows while the Network page is shown, beside the same
// update with the panel hidden, in the same run. The ball runs on this machine's display and
// processes, with a filter device that is absent: the rows come from the benchmark alone.
#include "ball/ballviewer.h"
#include "ball/qmlapplicationviewer.h"
#include "flow/flowdatalist.h"
#include "platform/fake/fakememory.h"
#include "testplatform.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kRows = 200;
constexpr int kOpenings = 10;
constexpr int kUpdates = 30;
// How long one update is given to run its course on the GUI thread.
constexpr int kSettleMs = 150;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// CPU time of the calling thread, in milliseconds: what the GUI thread itself spent, without
// the time it waited for a timer or for a CPU on a busy machine.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Without a display, runs itself again under xvfb-run (or fails saying so).
void needDisplay(char** argv)
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsSet("VB_BENCH_XVFB"))
        return;
    ::setenv("VB_BENCH_XVFB", "1", 1);
    const char* args[] = {"xvfb-run", "-a",   "-s", "-screen 0 1280x800x24 -nolisten tcp",
                          argv[0],    nullptr};
    ::execvp("xvfb-run", const_cast<char* const*>(args));
    std::perror("bench_panel: no display, and xvfb-run cannot be started");
    std::exit(2);
}

// One sample of kRows processes, each with live connections; the deltas depend on the round,
// so every update changes every speed shown.
FlowDataList_ptr sampleRows(int round)
{
    auto rows = std::make_shared<QList<FlowDataProc>>();
    rows->reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        FlowDataProc p;
        p.pid = 10000 + quint64(i);
        p.path = QStringLiteral("/usr/lib/bench/process-%1").arg(i, 3, 10, QLatin1Char('0'));
        p.connectionCount = 1 + uint(i % 3);
        p.intervalMs = 1000;
        p.flowInDelta = quint64(1000 + 997 * i + 131 * round);
        p.flowOutDelta = quint64(500 + 389 * i + 71 * round);
        p.flowIn = p.flowInDelta * quint64(round + 1);
        p.flowOut = p.flowOutDelta * quint64(round + 1);
        rows->append(p);
    }
    return rows;
}

TotalMemoryCpuFlowInfo_ptr sampleTotals(int round)
{
    auto info = std::make_shared<TotalMemoryCpuFlowInfo>();
    info->memoryLoad = 40 + uint(round % 20);
    info->cpuUsage = 10 + uint(round % 30);
    info->intervalMs = 1000;
    info->flowIn = quint64(round + 1) << 20;
    info->flowOut = quint64(round + 1) << 18;
    info->flowInDelta = 1u << 20;
    info->flowOutDelta = 1u << 18;
    return info;
}

// Waits until the window's next frame has been swapped; false after 5 s.
bool nextFrame(QQuickWindow* w)
{
    bool swapped = false;
    const auto c = QObject::connect(
        w, &QQuickWindow::frameSwapped, w, [&] { swapped = true; }, Qt::DirectConnection);
    const bool ok = QTest::qWaitFor([&] { return swapped; }, 5000);
    QObject::disconnect(c);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    needDisplay(argv);
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // The demo host's own choice: the ball and its windows draw in software.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    // One figure a line: the ball's own diagnostics (a system bus it cannot reach) stay out.
    QLoggingCategory::setFilterRules(QStringLiteral("vb.*=false"));

    // This machine's display, processes and memory; no filter service, nothing elevated, and a
    // double click would release nothing.
    vb::test::BallFakes fakes;
    vb::platform::Platform p = fakes.platform();
    p.screens = nullptr;
    p.hotKeys = nullptr;
    auto device = std::make_shared<vb::platform::fake::ScriptedFilterDevice>();
    device->setPresent(false);
    p.filterDevice = device;
    p.driverService = std::make_shared<vb::platform::fake::FakeDriverService>();
    p.workingSets = std::make_shared<vb::platform::fake::FakeWorkingSets>();
    BallViewer ball(nullptr, vb::test::nativeExcept(p));
    ball.setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    ball.showAtPos();
    if (!QTest::qWaitForWindowExposed(&ball) || !ball.popupWindow()) {
        std::fprintf(stderr, "bench_panel: the ball or its panel did not come up\n");
        return 1;
    }
    QmlApplicationViewer* panel = ball.popupWindow();
    if (!panel->rootObject()) {
        std::fprintf(stderr, "bench_panel: the panel's document did not load\n");
        return 1;
    }
    const QPoint centre(ball.width() / 2, ball.height() / 2);
    // Clicks further apart than a double click, so none of them releases memory.
    const int apart = QGuiApplication::styleHints()->mouseDoubleClickInterval() + 100;

    // --- the click to the first frame, on the Network page the second part uses ---
    ball.setCurrentPage(BallViewer::MP_Network);
    std::vector<double> opening;
    double firstOpening = -1;
    for (int i = 0; i <= kOpenings; ++i) {
        QTest::qWait(apart);
        bool swapped = false;
        QElapsedTimer t;
        const auto c = QObject::connect(
            panel, &QQuickWindow::frameSwapped, panel,
            [&] {
                if (!swapped && panel->isVisible()) {
                    swapped = true;
                    const double ms = double(t.nsecsElapsed()) / 1e6;
                    (i == 0 ? firstOpening : opening.emplace_back()) = ms;
                }
            },
            Qt::DirectConnection);
        t.start();
        QTest::mouseClick(&ball, Qt::LeftButton, Qt::NoModifier, centre);
        const bool shown = QTest::qWaitFor([&] { return swapped; }, 5000);
        QObject::disconnect(c);
        if (!shown) {
            std::fprintf(stderr, "bench_panel: a click on the ball did not show the panel\n");
            return 1;
        }
        if (i < kOpenings) {
            ball.qmlHidePopup();
            if (!QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000)) {
                std::fprintf(stderr, "bench_panel: the panel did not hide\n");
                return 1;
            }
        }
    }

    // --- one update of 200 rows, the Network page shown and the panel hidden in turns ---
    std::shared_ptr<FlowDataList> flow = ball.flowDataList();
    std::vector<double> shownMs, hiddenMs;
    for (int round = 0; round < 2 * kUpdates; ++round) {
        const bool shown = round % 4 < 2; // shown, shown, hidden, hidden, ...
        if (shown && !panel->isVisible()) {
            ball.showPopup(false);
            if (!nextFrame(panel)) {
                std::fprintf(stderr, "bench_panel: the panel did not come back\n");
                return 1;
            }
        } else if (!shown && panel->isVisible()) {
            ball.qmlHidePopup();
        }
        QTest::qWait(50); // let what the switch started settle
        const FlowDataList_ptr rows = sampleRows(round);
        const TotalMemoryCpuFlowInfo_ptr info = sampleTotals(round);
        // Everything the update sets off runs within the window: the model's signals, the
        // bindings, the delegates and the frames of the ball and (when shown) the panel.
        int panelFrames = 0;
        const auto c = QObject::connect(
            panel, &QQuickWindow::frameSwapped, panel, [&] { ++panelFrames; },
            Qt::DirectConnection);
        const double before = threadCpuMs();
        flow->onDataFound(rows, info, true);
        QTest::qWait(kSettleMs);
        const double spent = threadCpuMs() - before;
        QObject::disconnect(c);
        if (shown && panelFrames == 0) {
            std::fprintf(stderr, "bench_panel: the Network page drew no frame\n");
            return 1;
        }
        (shown ? shownMs : hiddenMs).push_back(spent);
        if (flow->rowCount() != kRows) {
            std::fprintf(stderr, "bench_panel: the model holds %d rows\n", flow->rowCount());
            return 1;
        }
    }
    const double shownMedian = median(shownMs);
    const double hiddenMedian = median(hiddenMs);
    std::printf("click on the ball to the panel's first frame, first opening: %.1f ms\n",
                firstOpening);
    std::printf("click on the ball to the panel's first frame: %.1f ms (median of %d), of which "
                "%d ms the opening delay\n",
                median(opening), kOpenings, BallViewer::kPopupDelayMs);
    std::printf("traffic update of %d rows, Network page shown: %.2f ms GUI thread (median of "
                "%d)\n",
                kRows, shownMedian, kUpdates);
    std::printf("traffic update of %d rows, panel hidden: %.2f ms GUI thread (median of %d)\n",
                kRows, hiddenMedian, kUpdates);
    std::printf("traffic update, Network page shown / panel hidden: %.1f\n",
                hiddenMedian > 0 ? shownMedian / hiddenMedian : -1);
    return 0;
}

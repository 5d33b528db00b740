// SPDX-License-Identifier: GPL-3.0-or-later
// The demo host: loads the ball library at run time, shows the ball and a small main window of
// its own, and serves "-ScreenCapture" when the ball starts it again for a capture.
#include "flow/flowdatalist.h"
#include "helper/baseview.h"
#include "helper/hostenvironment.h"
#include "helper/setsgeneral.h"
#include "helper/setsmanager.h"
#include "hostbridge.h"
#include "lib/verdantball.h"
#include "procs/procdatalist.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLibrary>
#include <QLocale>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_quitSignal = 0;
// Time the event loop gets to wind down after SIGTERM/SIGINT before the host ends regardless.
constexpr unsigned kQuitGraceS = 3;

// The GUI thread may be stuck (a skin's script, a read that blocks): the pipe asks it to quit,
// the alarm ends the process when it cannot, and a second signal ends it at once.
void onSignal(int sig)
{
    if (g_quitSignal)
        ::_exit(128 + g_quitSignal);
    g_quitSignal = sig;
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
    ::alarm(kQuitGraceS);
}

void onQuitGraceOver(int)
{
    ::_exit(128 + g_quitSignal);
}

// Qt aborts with a long story when it has no display; say it in one line and leave. The ball
// is an X11 client: staying on top, its place on the screen, its shape, its hot key and the
// window list all need X. On a Wayland desktop it therefore runs through XWayland, with the
// xcb platform forced even where Qt would pick Wayland (or was told to), and says so once.
// A platform asked for explicitly that is neither (offscreen, vnc, ...) is left to Qt.
// The probe's connection is handed back open: it must outlive the moment Qt connects, because
// an X server whose last client leaves resets itself, and Qt's connection would wait out the
// reset (a display with no other client, such as a kiosk or a test server, paid 15-30 ms).
struct XcbProbe
{
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using XcbProbeConnection = std::unique_ptr<xcb_connection_t, XcbProbe>;

bool chooseDisplay(QString& why, XcbProbeConnection& probe)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        why = wayland || platform.startsWith("wayland")
                  ? QStringLiteral("Wayland session without XWayland (DISPLAY is not set): the "
                                   "ball cannot stay on top, keep its place or take its hot "
                                   "key there, so it does not start")
                  : QStringLiteral("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        return false;
    }
    probe.reset(xcb_connect(display.constData(), nullptr));
    if (!probe || xcb_connection_has_error(probe.get())) {
        probe.reset();
        why = QStringLiteral("cannot open display %1").arg(QString::fromLocal8Bit(display));
        return false;
    }
    if (wayland || platform.startsWith("wayland")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qInfo("verdant-ball-host: Wayland session: running through XWayland on %s, which keeps "
              "the ball on top and in its place",
              display.constData());
    }
    return true;
}

void installSignalHandlers(QGuiApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
        qInfo("verdant-ball-host: quitting on signal");
        app.quit();
    });
    struct sigaction sa
    {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = onQuitGraceOver;
    sigaction(SIGALRM, &sa, nullptr);
}

// The whole desktop, every screen at its place in the virtual desktop.
QRect desktopGeometry()
{
    QRect all;
    for (QScreen* s : QGuiApplication::screens())
        all |= s->geometry();
    return all;
}

int runScreenCapture(QGuiApplication& app)
{
    qInfo("verdant-ball-host: screen capture started");
    HostBridge bridge(nullptr);
    BaseView view;
    view.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.rootContext()->setContextProperty(QStringLiteral("Host"), &bridge);
    view.setGeometry(desktopGeometry());
    view.setMainQmlFile(QStringLiteral("qrc:/host/ScreenCapture.qml"));
    if (!view.rootObject())
        return 1;
    QObject::connect(&view, &BaseView::closed, &app, &QGuiApplication::quit);
    view.show();
    view.requestActivate();
    return app.exec();
}

// One line whenever a boost list's rows change, for whoever watches the host ("boost list" is
// the Office list the main window shows, "Game list" the ball's other one).
void logBoostList(QAbstractItemModel& list, const char* label)
{
    QObject::connect(&list, &QAbstractItemModel::layoutChanged, &list, [&list, label] {
        QStringList names;
        for (int i = 0; i < list.rowCount(); ++i)
            names << list.data(list.index(i, 0), ProcDataList::role_name).toString();
        qInfo("verdant-ball-host: %s: %s", label, qPrintable(names.join(QStringLiteral(", "))));
    });
}

// One line whenever what the Network page shows of its rows changes (which processes, which
// of them move bytes, which are blocked), for whoever watches the host. Speeds themselves
// change every second and are left out.
void logTrafficList(QAbstractItemModel& list)
{
    const QHash<int, QByteArray> roles = list.roleNames();
    const int name = roles.key("role_proc_name", -1);
    const int in = roles.key("role_flow_in_speed", -1);
    const int out = roles.key("role_flow_out_speed", -1);
    const int blocked = roles.key("role_is_blocked", -1);
    const int dead = roles.key("role_dead", -1);
    auto last = std::make_shared<QString>();
    auto log = [&list, name, in, out, blocked, dead, last] {
        QStringList rows;
        for (int i = 0; i < list.rowCount(); ++i) {
            const QModelIndex at = list.index(i, 0);
            // "0.00 B/s" and "0 B/s" are the texts of a standstill.
            const auto moving = [&](int role) {
                return !list.data(at, role).toString().startsWith(QLatin1String("0"));
            };
            QString row = list.data(at, name).toString();
            if (list.data(at, dead).toBool())
                row += QStringLiteral(" dead");
            else if (moving(in) || moving(out))
                row += QStringLiteral(" moving");
            else
                row += QStringLiteral(" idle");
            if (list.data(at, blocked).toBool())
                row += QStringLiteral(" blocked");
            rows << row;
        }
        const QString text = rows.join(QStringLiteral(", "));
        if (text == *last)
            return;
        *last = text;
        qInfo("verdant-ball-host: traffic list: %s", qPrintable(text));
    };
    QObject::connect(&list, &QAbstractItemModel::layoutChanged, &list, log);
    QObject::connect(&list, &QAbstractItemModel::dataChanged, &list, log);
}

} // namespace

int main(int argc, char** argv)
{
    QString why;
    XcbProbeConnection probe;
    if (!chooseDisplay(why, probe)) {
        std::fprintf(stderr, "verdant-ball-host: %s\n", qPrintable(why));
        return 2;
    }
    // The ball and its small windows draw in software unless told otherwise: a GL context
    // (often a software rasteriser anyway) costs the idle host three times the memory.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    probe.reset();
    QGuiApplication::setApplicationName(QStringLiteral("verdant-ball-host"));
    QGuiApplication::setOrganizationName(QStringLiteral("VerdantSuite"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    installSignalHandlers(app);

    QCommandLineParser args;
    args.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    args.addOption({QStringLiteral("ScreenCapture"), QStringLiteral("Take a screen capture.")});
    args.addOption({QStringLiteral("lang"), QStringLiteral("User interface language."),
                    QStringLiteral("code")});
    args.addOption({QStringLiteral("library"), QStringLiteral("The ball library to load."),
                    QStringLiteral("file")});
    args.addHelpOption();
    args.process(app);

    Translator* tr = HostEnvironment::instance().translator();
    tr->addCatalogue(QStringLiteral("verdantball"));
    QString lang = args.isSet(QStringLiteral("lang"))
                       ? args.value(QStringLiteral("lang"))
                       : QLocale::system().name().section(QLatin1Char('_'), 0, 0);
    if (lang == QLatin1String("C") || lang == QLatin1String("POSIX"))
        lang.clear();

    if (args.isSet(QStringLiteral("ScreenCapture")))
        return runScreenCapture(app);

    const QString libFile = args.isSet(QStringLiteral("library"))
                                ? args.value(QStringLiteral("library"))
                                : SetsGeneral::appPath() + QStringLiteral("/libverdantball.so");
    QLibrary lib(libFile);
    if (!lib.load()) {
        std::fprintf(stderr, "verdant-ball-host: cannot load the ball library %s: %s\n",
                     qPrintable(libFile), qPrintable(lib.errorString()));
        return 3;
    }
    auto entry = reinterpret_cast<VerdantBallEntry>(lib.resolve(kVerdantBallEntry));
    const VerdantBallApi* api = entry ? entry() : nullptr;
    if (!api || api->abiVersion != kVerdantBallAbi) {
        std::fprintf(stderr, "verdant-ball-host: %s is not a ball library of this version: %s\n",
                     qPrintable(libFile),
                     entry ? "interface version differs" : qPrintable(lib.errorString()));
        return 3;
    }
    // The catalogues live in the library's resources, so the language is set once it is loaded.
    tr->setLanguage(lang);

    // The main window is made when it is first shown, document and all: a view brings its own
    // QML engine, which the ball's first frame need not wait for and an idle host whose window
    // stays closed need not hold. The ball uses its owner only to centre its own windows on
    // it while it is shown, so it starts without one.
    std::unique_ptr<BaseView> mainWindow;
    BaseView* ball = api->createBall(nullptr);
    HostBridge bridge([api, ball] {
        // Bringing the ball back is the host's affair, and so is clearing its hidden flag.
        SetsManager::saveValueUser(QStringLiteral("BallViewerHide"), false);
        api->showAtPos(ball);
    });
    // The main window shows the Office boost list, shared with the ball, as any host may.
    std::shared_ptr<ProcDataList> boostList = api->procDataList(ball, 0);
    bridge.setRefreshList([api, list = boostList.get()] { api->beginEnum(list); });
    logBoostList(*boostList, "boost list");
    std::shared_ptr<ProcDataList> gameList = api->procDataList(ball, 1);
    if (gameList)
        logBoostList(*gameList, "Game list");
    std::shared_ptr<FlowDataList> traffic = api->flowDataList(ball);
    if (traffic)
        logTrafficList(*traffic);
    QObject::connect(ball, SIGNAL(lastFixInfoChanged(uint, quint64)), &bridge,
                     SLOT(onLastFix(uint, quint64)));
    bridge.setShowMain([&mainWindow, &bridge, &app, ball, list = boostList.get()](bool activate) {
        if (!mainWindow) {
            mainWindow = std::make_unique<BaseView>();
            BaseView* w = mainWindow.get();
            w->setFlags(Qt::Window);
            w->setTitle(QStringLiteral("Verdant Suite"));
            w->rootContext()->setContextProperty(QStringLiteral("Host"), &bridge);
            w->rootContext()->setContextProperty(QStringLiteral("BoostList"), list);
            w->rootContext()->setContextProperty(QStringLiteral("Ball"), ball);
            QObject::connect(w, &QWindow::visibleChanged, &bridge, [&bridge](bool shown) {
                if (shown)
                    bridge.refreshList(); // nothing to do while the list is up to date
            });
            // Closing the main window leaves the ball running (Quit ends both); with the ball
            // hidden nothing would be left to reach the host by, so then it ends.
            QObject::connect(w, &BaseView::closed, &app, [&app, ball] {
                if (!ball->isVisible())
                    app.quit();
            });
            w->setMainQmlFile(QStringLiteral("qrc:/host/MainWindow.qml"));
        }
        mainWindow->show();
        if (activate)
            mainWindow->requestActivate();
    });

    // The Clean tab hands the user over to the suite: the main window comes up and says so.
    QObject::connect(ball, SIGNAL(toCleanPage()), &bridge, SLOT(onToCleanPage()));
    QObject::connect(ball, SIGNAL(toCleanPage()), &bridge, SLOT(openMain()));
    QObject::connect(ball, SIGNAL(tryOpenVDS()), &bridge, SLOT(openMain()));
    QObject::connect(ball, SIGNAL(hided()), &bridge, SLOT(showMain()));
    QObject::connect(ball, &QQuickWindow::frameSwapped, ball, [] {
        static bool once = false;
        if (!once) {
            once = true;
            qInfo("verdant-ball-host: ball shown");
        }
    });

    ball->setMainQmlFile(QStringLiteral("qrc:/Ball/Skins/BallView.qml"));
    if (SetsManager::readValueUser(QStringLiteral("BallViewerHide"), false).toBool()) {
        qInfo("verdant-ball-host: the ball was hidden by the user; showing the main window");
        bridge.showMain();
    } else {
        api->showAtPos(ball);
    }

    const int rc = app.exec();
    if (mainWindow)
        mainWindow->rootContext()->setContextProperty(QStringLiteral("BoostList"), nullptr);
    boostList.reset();
    traffic.reset();
    gameList.reset();
    api->destroyBall(ball);
    qInfo("verdant-ball-host: bye");
    return rc;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballviewer.h"

#include "ball/ballmenu.h"
#include "ball/ballposition.h"
#include "ball/capturelauncher.h"
#include "ball/popupcontroller.h"
#include "ball/qmlapplicationviewer.h"
#include "ball/releasenote.h"
#include "ball/shapemask.h"
#include "ball/skinguard.h"
#include "core/logging.h"
#include "core/sizetext.h"
#include "flow/flowdatalist.h"
#include "helper/menuviewex.h"
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/platform.h"
#include "procs/procdatalist.h"
#include "skins/skinslist.h"
#include "skins/skinviewer.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlContext>
#include <QScreen>
#include <QTimer>

BallViewer::BallViewer(QWindow* parent) : BallViewer(parent, vb::platform::makeNative()) {}

BallViewer::BallViewer(QWindow* parent, vb::platform::Platform backends)
    : BaseView(parent), m_backends(std::move(backends)),
      m_position(std::make_unique<vb::ball::BallPosition>(m_backends.screens)),
      m_hotKey(m_backends.hotKeys), m_capture(new vb::ball::CaptureLauncher(this)),
      m_popup(new vb::ball::PopupController(
          this, m_backends.screens, [this](QQmlContext* ctx) { publishToPopup(ctx); }, this)),
      m_note(std::make_unique<vb::ball::ReleaseNote>(this))
{
    m_flowDataList = std::make_shared<FlowDataList>(m_backends);
    createProcLists();
    skinsList = std::make_shared<SkinsList>();
    m_closing = false;
    m_popup->setDelayMs(kPopupDelayMs);
    setMinimumSize(QSize(kMinSide, kMinSide));
    setMaximumSize(QSize(kMaxSide, kMaxSide));

    // Connected before the ball's document binds to the catalogue, so the bound is armed
    // before the new skin starts loading.
    m_skinGuard = std::make_unique<vb::ball::SkinGuard>(engine());
    connect(skinsList.get(), &SkinsList::currentSkinChanged, this,
            [this] { m_skinGuard->arm(skinsList->currentSkinUrl()); });
    connect(m_skinGuard.get(), &vb::ball::SkinGuard::loadCutOff, this,
            &BallViewer::onSkinLoadCutOff);
    watchScreens();

    connect(m_popup, &vb::ball::PopupController::pinRequestChanged, this,
            &BallViewer::isPopupPinedChanged);
    connect(m_popup, &vb::ball::PopupController::shown, this, &BallViewer::needEnumCurrent);
    connect(m_popup, &vb::ball::PopupController::skinsViewRequested, this,
            &BallViewer::onShowSkinsViewer);
    connect(m_popup, &vb::ball::PopupController::screenCaptureRequested, this,
            &BallViewer::onShowScreenCapture);
    connect(m_capture, &vb::ball::CaptureLauncher::finished, this,
            &BallViewer::onScreenCaptureProcessClosed);

    const auto& screens = m_backends.screens;
    if (screens && !screens->desktopComposited()) {
        qCDebug(lcBall) << "BallViewer: no compositing manager; the ball cuts its shape out";
        m_shape = std::make_unique<vb::ball::ShapeMask>(this);
        connect(this, &QQuickWindow::frameSwapped, this, [this] { m_shape->onFrameSwapped(); });
        connect(skinsList.get(), &SkinsList::currentSkinChanged, this,
                [this] { m_shape->settleSoon(); });
        connect(this, &BallViewer::isEmptingMemorySetChanged, this,
                [this](bool running) { m_shape->setAnimating(running); });
    }
    connectProcLists();
    // A host that runs the ball on Wayland itself (not through XWayland) gets a ball that
    // works but floats where the compositor puts it.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qCWarning(lcBall) << "BallViewer: on the Wayland platform the ball cannot stay on top, "
                             "keep its place or take its hot key; run the host with "
                             "QT_QPA_PLATFORM=xcb (XWayland)";
}

BallViewer::~BallViewer()
{
    // The chooser, the panel and the note go first: their documents refer to this ball and
    // its models. Deleted here rather than left to close(): a window never shown gets no close
    // event and would outlive the ball.
    if (skinChooser) {
        QPointer<SkinViewer> chooser = skinChooser;
        chooser->close();
        delete chooser.data();
    }
    m_popup->closeWindow();
    m_note.reset();
    skinsList.reset();
    m_procDataListGame.reset();
    m_procDataListOffice.reset();
    m_flowDataList.reset();
}

void BallViewer::exportObject()
{
    Qt::WindowFlags f = Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                        Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                        Qt::WindowCloseButtonHint;
    // A tool window keeps the ball out of task bars; on top unless the host turns that off.
    f |= Qt::Tool;
    if (isTopMost())
        f |= Qt::WindowStaysOnTopHint;
    setFlags(f);
    rootContext()->setContextProperty(QStringLiteral("EP"), this);
    rootContext()->setContextProperty(QStringLiteral("FlowDataList"), m_flowDataList.get());
    rootContext()->setContextProperty(QStringLiteral("SkinsList"), skinsList.get());
    m_exported = true;
    // The sampling worker, its filter service connection and the Boost Panel wait until the
    // ball has its first frame: none of them is on it, and on a busy machine they would delay
    // it. The panel is made on first use (a click's delay covers it), so an idle ball that
    // nobody opens never holds its documents.
    connect(
        this, &QQuickWindow::frameSwapped, this,
        [this] { QTimer::singleShot(0, this, [this] { m_flowDataList->startMonitoring(); }); },
        Qt::SingleShotConnection);
    // The document is created next, and with it the current skin.
    m_skinGuard->arm(skinsList->currentSkinUrl());
}

void BallViewer::init()
{
    BaseView::init();
    m_skinGuard->settle();
}

void BallViewer::onSkinLoadCutOff(const QString& skin, int boundMs)
{
    qCWarning(lcSkins).noquote() << "BallViewer: the skin" << skin << "did not load within"
                                 << boundMs << "ms; it is dropped for the default face";
    // Saved as the choice, so the next start does not walk into it again.
    if (skinsList && skinsList->currentSkinUrl() != SkinsList::kDefaultSkin)
        skinsList->setCurrentSkin(SkinsList::kDefaultSkin);
}

// --- screens ---

void BallViewer::watchScreens()
{
    // Several signals come for one change; the placement runs once the screens settled.
    auto later = [this] { QTimer::singleShot(0, this, &BallViewer::placeAgain); };
    auto watch = [this, later](QScreen* s) {
        connect(s, &QScreen::geometryChanged, this, later);
        connect(s, &QScreen::availableGeometryChanged, this, later);
    };
    for (QScreen* s : QGuiApplication::screens())
        watch(s);
    auto* app = qGuiApp;
    connect(app, &QGuiApplication::screenAdded, this, [watch, later](QScreen* s) {
        watch(s);
        later();
    });
    connect(app, &QGuiApplication::screenRemoved, this, later);
    connect(app, &QGuiApplication::primaryScreenChanged, this, later);
}

void BallViewer::placeAgain()
{
    // A removed or shrunk screen must not leave the ball (or its panel and note) out of sight:
    // the place is chosen again as at start.
    if (!isVisible())
        return;
    const QPoint pos = m_position->placeAtStart(size());
    qCDebug(lcBall) << "BallViewer: screens changed; the ball goes to" << pos;
    setPosition(pos);
    moveMemoryNoteWindow();
    m_popup->follow();
}

// --- placement and visibility ---

void BallViewer::showAtPos()
{
    setPosition(m_position->placeAtStart(size()));
    show();
    QPointer<BallViewer> self(this);
    m_hotKey.ensureRegistered(static_cast<uintptr_t>(winId()), [self] {
        if (self)
            self->showScreenCaptureView();
    });
}

void BallViewer::qmlRecordPos()
{
    m_position->record(position());
}

void BallViewer::moveEvent(QMoveEvent*)
{
    moveMemoryNoteWindow();
    m_popup->follow();
}

void BallViewer::resizeEvent(QResizeEvent* e)
{
    BaseView::resizeEvent(e);
    if (m_shape)
        m_shape->settleSoon();
}

void BallViewer::moveMemoryNoteWindow()
{
    if (!m_note || !m_note->window()) // no note, or gone while the ball is torn down
        return;
    const QRect ball(position(), size());
    m_note->follow(ball, m_position->areaUnder(ball));
}

QmlApplicationViewer* BallViewer::popupWindow() const
{
    // Made on first use, not with the ball; asking for it is such a use.
    if (m_exported)
        m_popup->ensureWindow();
    return m_popup->window();
}

SkinViewer* BallViewer::skinChooserWindow() const
{
    return skinChooser;
}

void BallViewer::setPopupDocument(const QString& url)
{
    m_popup->setDocument(url);
}

bool BallViewer::isPopupPined() const
{
    return m_popup->isPinned();
}

bool BallViewer::isPopupPinedValue() const
{
    return m_popup->pinRequested();
}

void BallViewer::setIsPopupPined(bool pinned)
{
    m_popup->setPinRequested(pinned);
}

void BallViewer::setCurrentPage(ModulePages page)
{
    if (m_currentPage == page)
        return;
    m_currentPage = page;
    m_popup->setOnNetworkPage(page == MP_Network);
    Q_EMIT currentPageChanged(page);
}

void BallViewer::setCurrentProcPage(ProcsPages page)
{
    if (m_currentProcPage == page)
        return;
    m_currentProcPage = page;
    needEnumCurrent();
    Q_EMIT currentProcPageChanged(page);
}

void BallViewer::qmlDelayShowPopup()
{
    m_popup->showDelayed();
}

void BallViewer::showPopup(bool delayed)
{
    if (delayed)
        m_popup->showDelayed();
    else
        m_popup->showNow();
}

void BallViewer::onOpenPanel()
{
    m_popup->showNow();
}

void BallViewer::tryDelayShowPopup()
{
    m_popup->showUnlessCancelled();
}

void BallViewer::qmlCancelDelayShowPopup()
{
    m_popup->cancel();
}

void BallViewer::qmlHidePopup()
{
    m_popup->hide();
}

void BallViewer::qmlShowPopup() {}

void BallViewer::focusOutEvent(QFocusEvent*)
{
    m_popup->ballLostFocus();
}

void BallViewer::onPopupFocusOut()
{
    m_popup->panelLostFocus();
}

void BallViewer::onPopupClosed()
{
    m_popup->windowClosed();
}

void BallViewer::publishToPopup(QQmlContext* ctx)
{
    ctx->setContextProperty(QStringLiteral("FlowDataList"), m_flowDataList.get());
    ctx->setContextProperty(QStringLiteral("ProcDataListOffice"), m_procDataListOffice.get());
    ctx->setContextProperty(QStringLiteral("ProcDataListGame"), m_procDataListGame.get());
    ctx->setContextProperty(QStringLiteral("MainView"), this);
}

void BallViewer::onHideBall()
{
    hide();
    Q_EMIT hided();
    m_position->recordHidden();
}

void BallViewer::HideBallView()
{
    onHideBall();
}

// --- menu and host requests ---

void BallViewer::qmlShowMenu()
{
    auto* menu = new MenuViewEx(this);
    const vb::ball::BallMenuItems items =
        vb::ball::makeBallMenuItems(menu, m_hotKey.isRegistered());
    connect(items.openPanel, &MenuActions::triggered, this, &BallViewer::onOpenPanel);
    connect(items.screenCapture, &MenuActions::triggered, this, &BallViewer::onShowScreenCapture);
    connect(items.changeSkin, &MenuActions::triggered, this, &BallViewer::onShowSkinsViewer);
    connect(items.hide, &MenuActions::triggered, this, &BallViewer::onHideBall,
            Qt::QueuedConnection);
    connect(items.openSuite, &MenuActions::triggered, this, &BallViewer::onOpenVDS,
            Qt::QueuedConnection);
    menu->addActions(items.inOrder());
    menu->popMenu();
}

void BallViewer::onOpenVDS()
{
    Q_EMIT tryOpenVDS();
}

void BallViewer::qmlToCleanPage()
{
    Q_EMIT toCleanPage();
}

void BallViewer::onShowScreenCapture()
{
    m_popup->hideUnlessPinned();
    showScreenCaptureView();
}

void BallViewer::showScreenCaptureView()
{
    m_capture->start();
}

void BallViewer::onScreenCaptureProcessClosed(int exitCode)
{
    qCDebug(lcBall) << "BallViewer: the screen capture ended with" << exitCode;
}

void BallViewer::onShowSkinsViewer()
{
    if (!skinChooser) {
        skinChooser = new SkinViewer([this](QQmlContext* ctx) {
            ctx->setContextProperty(QStringLiteral("SkinsList"), skinsList.get());
        });
        skinChooser->setDeleteOnClose(true);
        connect(skinChooser, &BaseView::closed, this, &BallViewer::onSkinViewerClosed);
        // Each new chooser reads the skin folders again, so skins added meanwhile are listed.
        skinsList->loadSkins();
        skinChooser->setTopMost(false);
        // On the ball's screen, where the user who asked for it is looking.
        skinChooser->setScreen(screen());
        skinChooser->setMainQmlFile(SkinViewer::kDocument);
    }
    skinChooser->doShow(false);
}

void BallViewer::onSkinViewerClosed()
{
    skinChooser = nullptr;
}

// --- memory release ---

void BallViewer::qmlReleaseMemory()
{
    MemoryStartEmptyMemorySet();
}

void BallViewer::MemoryStartEmptyMemorySet()
{
    if (emptyingMemory)
        return; // one release at a time; further double clicks are ignored
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    // Emitted on the release thread, so the slot runs queued in this one.
    if (!connect(notifier.get(), &EmptingMemorySetNotifyer::finished, this,
                 &BallViewer::onEmptingMemorySetFinished))
        return;
    setEmptingMemorySet(true);
    qCDebug(lcBall) << "BallViewer: memory release started";
    if (!vb::memory::startEmptingMemorySet(std::move(notifier),
                                           vb::memory::ReleaseBackends::of(m_backends))) {
        // No finished will ever come: without this the ball would ignore every later release.
        setEmptingMemorySet(false);
    }
}

void BallViewer::setEmptingMemorySet(bool running)
{
    if (emptyingMemory == running)
        return;
    emptyingMemory = running;
    Q_EMIT isEmptingMemorySetChanged(running);
}

void BallViewer::onEmptingMemorySetFinished(quint64 freedBytes)
{
    setEmptingMemorySet(false);
    const QRect ball(position(), size());
    m_note->show(freedBytes, ball, m_position->areaUnder(ball));
}

void BallViewer::onTipClosed()
{
    if (m_note)
        m_note->windowClosed();
}

// --- the boost lists and fix results ---

void BallViewer::createProcLists()
{
    // Each list holds the only reference to its judge.
    m_procDataListOffice =
        std::make_shared<ProcDataList>(std::make_shared<JudgeUserOffice>(), nullptr, m_backends);
    m_procDataListGame =
        std::make_shared<ProcDataList>(std::make_shared<JudgeUserGame>(), nullptr, m_backends);
}

void BallViewer::connectProcLists()
{
    ProcDataList* office = m_procDataListOffice.get();
    ProcDataList* game = m_procDataListGame.get();
    connect(m_flowDataList.get(), &FlowDataList::processChanged, office,
            &ProcDataList::onProcNeedUpdate);
    connect(m_flowDataList.get(), &FlowDataList::processChanged, game,
            &ProcDataList::onProcNeedUpdate);
    connect(office, &ProcDataList::isFixingChanged, this, &BallViewer::onOfficeIsFixingChanged);
    connect(game, &ProcDataList::isFixingChanged, this, &BallViewer::onGameIsFixingChanged);
    connect(office, &ProcDataList::fixResultChanged, this, &BallViewer::onFixResultChanged);
    connect(game, &ProcDataList::fixResultChanged, this, &BallViewer::onFixResultChanged);
}

ProcDataList* BallViewer::currentProcList() const
{
    switch (m_currentProcPage) {
    case PP_Office:
        return m_procDataListOffice.get();
    case PP_Game:
        return m_procDataListGame.get();
    default:
        return nullptr;
    }
}

void BallViewer::needEnumCurrent()
{
    if (ProcDataList* list = currentProcList())
        list->beginEnum();
}

void BallViewer::fixCurrent(bool ram)
{
    if (ProcDataList* list = currentProcList())
        list->beginFix(ram);
}

void BallViewer::fixCurrent()
{
    fixCurrent(false);
}

// A fix in one list closes processes: the other list is stale and enumerates when next shown.
void BallViewer::onOfficeIsFixingChanged(bool)
{
    m_procDataListGame->onProcNeedUpdate();
}

void BallViewer::onGameIsFixingChanged(bool)
{
    m_procDataListOffice->onProcNeedUpdate();
}

void BallViewer::onFixResultChanged(uint count, quint64 bytes)
{
    m_lastFixCount = count;
    m_lastFixMemory = bytes;
    Q_EMIT lastFixInfoChanged(count, bytes);
}

QString BallViewer::lastFixMemoryStr() const
{
    return vb::sizeText(m_lastFixMemory);
}

void BallViewer::setLastFixCount(uint count)
{
    if (m_lastFixCount != count)
        m_lastFixCount = count;
}

void BallViewer::setLastFixMemory(quint64 bytes)
{
    if (m_lastFixMemory != bytes)
        m_lastFixMemory = bytes;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballviewer.h"

#include "ball/ballplacement.h"
#include "ball/ballshape.h"
#include "ball/qmlapplicationviewer.h"
#include "ball/tipwin.h"
#include "core/sizetext.h"
#include "flow/flowdatalist.h"
#include "helper/menuviewex.h"
#include "helper/setsmanager.h"
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/platform.h"
#include "procs/procdatalist.h"
#include "skins/skinslist.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlContext>
#include <QScreen>
#include <QTimer>

namespace {
const QString kKeyX = QStringLiteral("BallViewerX");
const QString kKeyY = QStringLiteral("BallViewerY");
const QString kKeyHide = QStringLiteral("BallViewerHide");
const QString kPopupDocument = QStringLiteral("qrc:/Ball/Skins/PopUp.qml");
const QString kNoteDocument = QStringLiteral("qrc:/Ball/Skins/PopupReleaseMemoryNote.qml");
// From one mebibyte on, the note tells the amount.
constexpr quint64 kNoteAmountFrom = 0x100000;
} // namespace

BallViewer::BallViewer(QWindow* parent) : BallViewer(parent, vb::platform::current()) {}

BallViewer::BallViewer(QWindow* parent, vb::platform::Platform backends)
    : BaseView(parent), m_backends(std::move(backends))
{
    m_flowDataList = std::make_shared<FlowDataList>();
    createProcLists();
    skinsList = std::make_shared<SkinsList>();
    m_closing = false;

    const auto& screens = m_backends.screens;
    shapeByMask = screens && !screens->desktopComposited();
    if (shapeByMask) {
        qDebug() << "BallViewer: no compositing manager; the ball cuts its shape out";
        connect(this, &QQuickWindow::frameSwapped, this, &BallViewer::updateShapeMask);
        connect(skinsList.get(), &SkinsList::currentSkinChanged, this, &BallViewer::reshapeSoon);
        connect(this, &BallViewer::isEmptingMemorySetChanged, this, &BallViewer::reshapeSoon);
    }
    connectProcLists();
}

BallViewer::~BallViewer()
{
    if (skinChooser)
        skinChooser->close();
    if (popupView)
        popupView->close();
    if (memoryNote) {
        // Closing makes the note forget itself; the window goes with the ball.
        TipWin* note = memoryNote;
        note->close();
        delete note;
    }
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
    m_flowDataList->startMonitoring();
    initViewPopup();
}

// --- placement and visibility ---

std::vector<vb::platform::Rect> BallViewer::workAreas() const
{
    const auto& screens = m_backends.screens;
    return screens ? screens->availableGeometries() : std::vector<vb::platform::Rect>{};
}

QRect BallViewer::primaryArea() const
{
    const auto& screens = m_backends.screens;
    if (!screens)
        return QRect();
    const vb::platform::Rect r = screens->primaryAvailableGeometry();
    return QRect(r.x, r.y, r.width, r.height);
}

void BallViewer::showAtPos()
{
    const vb::ball::Placement p = vb::ball::placeBall(
        SetsManager::readValueUser(kKeyX), SetsManager::readValueUser(kKeyY), size(), workAreas());
    if (p.usedDefaultX || p.usedDefaultY)
        qDebug() << "BallViewer: saved position incomplete, using the default corner for"
                 << (p.usedDefaultX ? "x" : "") << (p.usedDefaultY ? "y" : "");
    setPosition(p.pos);
    show();
    if (!hotKeyRegistered)
        registerHotKey();
}

void BallViewer::registerHotKey()
{
    const auto& keys = m_backends.hotKeys;
    if (!keys)
        return;
    QPointer<BallViewer> self(this);
    const auto result = keys->registerHotKey(static_cast<uintptr_t>(winId()), kHotKeyId,
                                             kHotKeyModifiers, kHotKeyVirtualKey, [self](int id) {
                                                 if (!self || id != kHotKeyId)
                                                     return;
                                                 qDebug()
                                                     << "BallViewer: hot key Ctrl+Alt+C pressed";
                                                 self->showScreenCaptureView();
                                             });
    hotKeyRegistered = result == vb::platform::HotKeyResult::Registered;
    if (result == vb::platform::HotKeyResult::Conflict)
        qDebug() << "BallViewer: the hot key Ctrl+Alt+C is taken by another program";
    else if (!hotKeyRegistered)
        qDebug() << "BallViewer: the hot key Ctrl+Alt+C could not be registered";
}

void BallViewer::qmlRecordPos()
{
    SetsManager::saveValueUser(kKeyX, x());
    SetsManager::saveValueUser(kKeyY, y());
}

void BallViewer::moveEvent(QMoveEvent*)
{
    if (memoryNote)
        moveMemoryNoteWindow();
    movePopup();
}

void BallViewer::resizeEvent(QResizeEvent* e)
{
    BaseView::resizeEvent(e);
    reshapeSoon();
}

void BallViewer::reshapeSoon()
{
    // A new skin and its size arrive over a few frames, and the skin fades in 120 ms.
    shapeUntil.setRemainingTime(400);
    if (shapeByMask)
        update();
}

void BallViewer::updateShapeMask()
{
    const bool settling = !shapeUntil.hasExpired();
    if (!shapeByMask || grabbingShape || (!settling && !emptyingMemory))
        return;
    grabbingShape = true;
    QImage frame = grabWindow();
    grabbingShape = false;
    if (frame.isNull())
        return;
    if (frame.size() != size())
        frame = frame.scaled(size());
    QRegion shape = vb::ball::shapeOf(frame);
    // An empty shape would hide the ball for good; keep it whole until there is a face.
    if (shape.isEmpty())
        shape = QRegion(QRect(QPoint(), size()));
    if (shape != mask())
        setMask(shape);
    if (settling || emptyingMemory)
        update();
}

void BallViewer::movePopup()
{
    if (!popupView)
        return;
    popupView->setPosition(
        calcPos(primaryArea(), popupView->geometry(), position(), QRect(QPoint(), size())));
}

void BallViewer::moveMemoryNoteWindow()
{
    if (!memoryNote)
        return;
    const QRect ball(position(), size());
    // The work area under the ball's centre, else the primary one.
    QRect area = primaryArea();
    for (const vb::platform::Rect& r : workAreas()) {
        const QRect a(r.x, r.y, r.width, r.height);
        if (a.contains(ball.center())) {
            area = a;
            break;
        }
    }
    memoryNote->setPosition(TipWin::placeAbove(ball, memoryNote->size(), area));
}

bool BallViewer::isPopupPined() const
{
    return popupPinned && popupView && m_currentPage == MP_Network;
}

void BallViewer::setIsPopupPined(bool pinned)
{
    if (popupPinned == pinned)
        return;
    popupPinned = pinned;
    Q_EMIT isPopupPinedChanged(pinned);
}

void BallViewer::setCurrentPage(ModulePages page)
{
    if (m_currentPage == page)
        return;
    m_currentPage = page;
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
    delayedPopupCancelled = false;
    initViewPopup();
    if (popupView)
        QTimer::singleShot(kPopupDelayMs, this, &BallViewer::tryDelayShowPopup);
}

void BallViewer::showPopup(bool delayed)
{
    delayedPopupCancelled = false;
    initViewPopup();
    if (!popupView)
        return;
    if (delayed)
        QTimer::singleShot(kPopupDelayMs, this, &BallViewer::tryDelayShowPopup);
    else
        tryDelayShowPopup();
}

void BallViewer::onOpenPanel()
{
    delayedPopupCancelled = false;
    initViewPopup();
    tryDelayShowPopup();
}

void BallViewer::tryDelayShowPopup()
{
    if (delayedPopupCancelled || !popupView)
        return;
    movePopup();
    popupView->requestActivate();
    popupView->show();
    needEnumCurrent();
}

void BallViewer::qmlCancelDelayShowPopup()
{
    delayedPopupCancelled = true;
    if (!isPopupPined() && popupView)
        popupView->hide();
}

void BallViewer::qmlHidePopup()
{
    if (popupView)
        popupView->hide();
}

void BallViewer::qmlShowPopup() {}

void BallViewer::focusOutEvent(QFocusEvent*)
{
    if (popupView && !popupView->isActive() && !isPopupPined())
        popupView->hide();
}

void BallViewer::onPopupFocusOut()
{
    if (popupView && !isActive() && !isPopupPined())
        popupView->hide();
}

void BallViewer::onPopupClosed()
{
    popupView = nullptr;
}

void BallViewer::initViewPopup()
{
    if (popupView)
        return;
    if (!QFile::exists(QLatin1Char(':') + QUrl(kPopupDocument).path())) {
        qDebug() << "BallViewer: no Boost Panel document in this build";
        return;
    }
    popupView = new QmlApplicationViewer(this, [this](QQmlContext* ctx) { publishToPopup(ctx); });
    popupView->setDeleteOnClose(true);
    connect(popupView, &QmlApplicationViewer::focusOut, this, &BallViewer::onPopupFocusOut);
    connect(popupView, &QmlApplicationViewer::showSkinsView, this, &BallViewer::onShowSkinsViewer);
    connect(popupView, &BaseView::closed, this, &BallViewer::onPopupClosed);
    connect(popupView, &QmlApplicationViewer::showScreenCapture, this,
            &BallViewer::onShowScreenCapture);
    popupView->setMainQmlFile(kPopupDocument);
}

void BallViewer::publishToPopup(QQmlContext* ctx)
{
    ctx->setContextProperty(QStringLiteral("ProcDataListOffice"), m_procDataListOffice.get());
    ctx->setContextProperty(QStringLiteral("ProcDataListGame"), m_procDataListGame.get());
    ctx->setContextProperty(QStringLiteral("MainView"), this);
}

void BallViewer::onHideBall()
{
    hide();
    Q_EMIT hided();
    SetsManager::saveValueUser(kKeyHide, true);
}

void BallViewer::HideBallView()
{
    onHideBall();
}

// --- menu and host requests ---

void BallViewer::qmlShowMenu()
{
    auto* menu = new MenuViewEx(this);
    const QString capture =
        hotKeyRegistered ? QCoreApplication::translate("QObject", "Screen Capture (Ctrl+Alt+C)")
                         : QCoreApplication::translate("QObject", "Screen Capture");
    auto* open =
        new MenuActions(QCoreApplication::translate("QObject", "Open Boost Panel"), menu, true,
                        true, QStringLiteral(":/Ball/Skins/images/icon_boost_12.png"));
    auto* shot = new MenuActions(capture, menu, true, true,
                                 QStringLiteral(":/Ball/Skins/images/icon_Screenshots_18.png"));
    auto* skin = new MenuActions(QCoreApplication::translate("QObject", "Change Skin"), menu, false,
                                 true, QStringLiteral(":/Ball/Skins/images/icon_skin_18.png"));
    auto* hideItem = new MenuActions(QCoreApplication::translate("QObject", "Hide"), menu, true,
                                     true, QStringLiteral(":/Ball/Skins/images/icon_hide_12.png"));
    auto* vds = new MenuActions(QCoreApplication::translate("QObject", "Open Verdant Suite"), menu,
                                true, true, QStringLiteral(":/Skin/images/icon_trayshowvds.png"));
    connect(open, &MenuActions::triggered, this, &BallViewer::onOpenPanel);
    connect(shot, &MenuActions::triggered, this, &BallViewer::onShowScreenCapture);
    connect(skin, &MenuActions::triggered, this, &BallViewer::onShowSkinsViewer);
    connect(hideItem, &MenuActions::triggered, this, &BallViewer::onHideBall, Qt::QueuedConnection);
    connect(vds, &MenuActions::triggered, this, &BallViewer::onOpenVDS, Qt::QueuedConnection);
    menu->addActions({open, shot, skin, hideItem, vds});
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
    if (!isPopupPined() && popupView)
        popupView->hide();
    showScreenCaptureView();
}

void BallViewer::showScreenCaptureView()
{
    if (captureProcess)
        return; // one capture at a time
    captureProcess = new QProcess(this);
    connect(captureProcess, &QProcess::finished, this, &BallViewer::onScreenCaptureProcessClosed);
    captureProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    captureProcess->start(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("-ScreenCapture")}, QIODevice::ReadWrite);
}

void BallViewer::onScreenCaptureProcessClosed(int)
{
    if (captureProcess)
        captureProcess->deleteLater();
    captureProcess = nullptr;
}

void BallViewer::onShowSkinsViewer()
{
    // The skin chooser window joins the ball with the skin subsystem.
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
    qDebug() << "BallViewer: memory release started";
    if (!vb::memory::startEmptingMemorySet(std::move(notifier))) {
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
    if (!memoryNote) {
        memoryNote = new TipWin(this);
        memoryNote->setDeleteOnClose(true);
        connect(memoryNote, &BaseView::closed, this, &BallViewer::onTipClosed);
        memoryNote->setMainQmlFile(kNoteDocument);
    }
    const QString message =
        freedBytes >= kNoteAmountFrom
            ? tr("Released %1 memory for computer.").arg(vb::sizeText(freedBytes))
            : tr("Boosted. Your PC performance is good.");
    qDebug().noquote() << "BallViewer: memory release freed" << freedBytes << "bytes:" << message;
    memoryNote->setText(message);
    moveMemoryNoteWindow();
    memoryNote->show();
    memoryNote->setShowFlag(true);
}

void BallViewer::onTipClosed()
{
    memoryNote = nullptr;
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

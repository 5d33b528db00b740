// SPDX-License-Identifier: GPL-3.0-or-later
// The floating ball: the one window and object through which the host uses the library.
#pragma once

#include "ball/ballexport.h"
#include "ball/capturehotkey.h"
#include "helper/baseview.h"
#include "platform/platform.h"

#include <QPointer>

#include <memory>

class QmlApplicationViewer;
class FlowDataList;
class QQmlContext;
class SkinsList;
class ProcDataList;
class SkinViewer;

namespace vb::ball {
class BallPosition;
class CaptureLauncher;
class PopupController;
class ReleaseNote;
class ShapeMask;
class SkinGuard;
} // namespace vb::ball

class VERDANTBALL_EXPORT BallViewer : public BaseView
{
    Q_OBJECT
    Q_PROPERTY(bool isEmptingMemorySet READ isEmptingMemorySet NOTIFY isEmptingMemorySetChanged)
    Q_PROPERTY(
        bool isPopupPined READ isPopupPinedValue WRITE setIsPopupPined NOTIFY isPopupPinedChanged)
    Q_PROPERTY(
        ModulePages currentPage READ currentPage WRITE setCurrentPage NOTIFY currentPageChanged)
    Q_PROPERTY(ProcsPages currentProcPage READ currentProcPage WRITE setCurrentProcPage NOTIFY
                   currentProcPageChanged)
    Q_PROPERTY(uint lastFixCount READ lastFixCount NOTIFY lastFixInfoChanged)
    Q_PROPERTY(quint64 lastFixMemory READ lastFixMemory NOTIFY lastFixInfoChanged)
    Q_PROPERTY(QString lastFixMemoryStr READ lastFixMemoryStr NOTIFY lastFixInfoChanged)
public:
    // Fixed to int: the tab bar writes the index of the "Clean" tab (2), which has no page, and
    // a value outside an unfixed enum's range is undefined.
    enum ModulePages : int { MP_NONE = -1, MP_Procgram = 0, MP_Network = 1 };
    Q_ENUM(ModulePages)
    enum ProcsPages : int { PP_NONE = -1, PP_Office = 0, PP_Game = 1 };
    Q_ENUM(ProcsPages)

    // The hot key's identifier, modifiers (Ctrl+Alt) and key (C).
    static constexpr int kHotKeyId = vb::ball::CaptureHotKey::kId;
    static constexpr unsigned kHotKeyModifiers = vb::ball::CaptureHotKey::kModifiers;
    static constexpr unsigned kHotKeyVirtualKey = vb::ball::CaptureHotKey::kVirtualKey;
    // The delay that lets a double click withdraw the opening its first click asked for.
    static constexpr int kPopupDelayMs = 200;
    // Bounds of a side of the ball, whatever size a skin asks for: never a window over the
    // whole desktop, never one too small to find and grab.
    static constexpr int kMinSide = 24;
    static constexpr int kMaxSide = 512;

    explicit BallViewer(QWindow* parent = nullptr);
    // The ball and everything it creates use these backends (tests pass fakes here).
    BallViewer(QWindow* parent, vb::platform::Platform backends);
    ~BallViewer() override;

    void HideBallView();
    void MemoryStartEmptyMemorySet();
    void showAtPos();
    void showPopup(bool delayed);
    void needEnumCurrent();

    bool isPopupPined() const;
    bool isPopupPinedValue() const;
    void setIsPopupPined(bool pinned);
    bool isEmptingMemorySet() const { return emptyingMemory; }
    ModulePages currentPage() const { return m_currentPage; }
    void setCurrentPage(ModulePages page);
    ProcsPages currentProcPage() const { return m_currentProcPage; }
    void setCurrentProcPage(ProcsPages page);
    uint lastFixCount() const { return m_lastFixCount; }
    quint64 lastFixMemory() const { return m_lastFixMemory; }
    QString lastFixMemoryStr() const;
    void setLastFixCount(uint count);
    void setLastFixMemory(quint64 bytes);

    bool hotKeyIsRegistered() const { return m_hotKey.isRegistered(); }
    // The Boost Panel, made on first use once the ball's document is loaded; null before.
    QmlApplicationViewer* popupWindow() const;
    // The skin chooser while one exists (shown or hidden), else null.
    SkinViewer* skinChooserWindow() const;
    // The Boost Panel's document (tests give a stand-in); takes effect when the panel is made.
    void setPopupDocument(const QString& url);
    // The skin catalogue the ball wears its skin from (published as "SkinsList").
    std::shared_ptr<SkinsList> skinCatalogue() const { return skinsList; }
    // The traffic model, the source of the ball's RAM and CPU figures ("FlowDataList").
    std::shared_ptr<FlowDataList> flowDataList() const { return m_flowDataList; }
    // The boost lists of the two modes; a host may share them.
    std::shared_ptr<ProcDataList> procDataListOffice() const { return m_procDataListOffice; }
    std::shared_ptr<ProcDataList> procDataListGame() const { return m_procDataListGame; }

Q_SIGNALS:
    void toCleanPage();
    void isEmptingMemorySetChanged(bool);
    void isPopupPinedChanged(bool);
    void hided();
    void currentPageChanged(ModulePages);
    void currentProcPageChanged(ProcsPages);
    void lastFixInfoChanged(uint, quint64);
    void tryOpenVDS();

private Q_SLOTS:
    void tryDelayShowPopup();
    void onEmptingMemorySetFinished(quint64 bytes);
    void onPopupFocusOut();
    void onShowSkinsViewer();
    void onPopupClosed();
    void onTipClosed();
    void onSkinViewerClosed();
    void onOpenPanel();
    void onHideBall();
    void onOpenVDS();
    void onScreenCaptureProcessClosed(int exitCode);
    void onShowScreenCapture();
    void onOfficeIsFixingChanged(bool fixing);
    void onGameIsFixingChanged(bool fixing);
    void onFixResultChanged(uint count, quint64 bytes);

public:
    Q_INVOKABLE void fixCurrent(bool ram);
    Q_INVOKABLE void fixCurrent();
    Q_INVOKABLE void qmlDelayShowPopup();
    Q_INVOKABLE void qmlCancelDelayShowPopup();
    Q_INVOKABLE void qmlReleaseMemory();
    Q_INVOKABLE void qmlShowMenu();
    Q_INVOKABLE void qmlShowPopup();
    Q_INVOKABLE void qmlRecordPos();
    Q_INVOKABLE void qmlHidePopup();
    Q_INVOKABLE void qmlToCleanPage();

protected:
    void focusOutEvent(QFocusEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void exportObject() override;
    void init() override;

private:
    void moveMemoryNoteWindow();
    void placeAgain();
    void watchScreens();
    void onSkinLoadCutOff(const QString& skin, int boundMs);
    void setEmptingMemorySet(bool running);
    void showScreenCaptureView();
    void publishToPopup(QQmlContext* ctx);
    void createProcLists();
    void connectProcLists();
    // The list of the Boost page shown; null for no page.
    ProcDataList* currentProcList() const;

    bool emptyingMemory = false;
    bool m_exported = false; // the document's context is ready: the panel may be made
    ModulePages m_currentPage = MP_Procgram;
    ProcsPages m_currentProcPage = PP_Office;
    uint m_lastFixCount = 0;
    quint64 m_lastFixMemory = 0;
    std::shared_ptr<SkinsList> skinsList;
    std::shared_ptr<FlowDataList> m_flowDataList;
    std::shared_ptr<ProcDataList> m_procDataListOffice;
    std::shared_ptr<ProcDataList> m_procDataListGame;
    vb::platform::Platform m_backends;
    std::unique_ptr<vb::ball::BallPosition> m_position;
    vb::ball::CaptureHotKey m_hotKey;
    vb::ball::CaptureLauncher* m_capture;
    vb::ball::PopupController* m_popup;
    QPointer<SkinViewer> skinChooser;
    std::unique_ptr<vb::ball::ReleaseNote> m_note;
    // Only without a compositing manager.
    std::unique_ptr<vb::ball::ShapeMask> m_shape;
    std::unique_ptr<vb::ball::SkinGuard> m_skinGuard;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost Panel beside the ball: made on first use, placed beside the ball, shown at once or
// after a delay a double click can withdraw, hidden when both windows lost the focus unless
// it is pinned (which holds only on the Network page).
#pragma once

#include "ball/qmlapplicationviewer.h"
#include "platform/screens.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace vb::ball {

class PopupController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultDelayMs = 200;
    static QString defaultDocument();

    // ball is the window the panel belongs to and is placed beside; publish fills the panel's
    // context before its document is created.
    PopupController(QWindow* ball, std::shared_ptr<const platform::IScreens> screens,
                    QmlApplicationViewer::Publisher publish, QObject* parent = nullptr);
    ~PopupController() override;

    // The panel's document; a document missing from the build leaves the ball without a panel.
    void setDocument(const QString& url) { m_document = url; }
    QString document() const { return m_document; }
    void setDelayMs(int ms) { m_delayMs = ms; }

    // Makes the panel unless it exists; returns whether there is one.
    bool ensureWindow();
    QmlApplicationViewer* window() const { return m_view; }

    // Shows the panel after the delay unless cancel() comes first.
    void showDelayed();
    // Shows the panel now.
    void showNow();
    // The end of the delay: shows the panel unless it was cancelled meanwhile.
    void showUnlessCancelled();
    // Withdraws a pending delayed show and hides the panel unless it is pinned.
    void cancel();
    void hide();
    // Closes the panel for good and deletes it, shown or not.
    void closeWindow();
    void hideUnlessPinned();
    // Keeps the panel beside the ball as the ball moves.
    void follow();

    bool pinRequested() const { return m_pinned; }
    void setPinRequested(bool pinned);
    void setOnNetworkPage(bool network) { m_onNetworkPage = network; }
    // Whether the panel stays when the focus leaves it: pinned, on the Network page, and shown.
    bool isPinned() const;

    // The ball lost the focus: the panel goes too unless it has the focus or is pinned.
    void ballLostFocus();
    // The panel lost the focus: it goes unless the ball has the focus or it is pinned.
    void panelLostFocus();
    // The panel closed (it deletes itself): the next use makes a new one.
    void windowClosed();

Q_SIGNALS:
    void pinRequestChanged(bool pinned);
    void shown();
    void skinsViewRequested();
    void screenCaptureRequested();

private:
    QWindow* m_ball;
    std::shared_ptr<const platform::IScreens> m_screens;
    QmlApplicationViewer::Publisher m_publish;
    QString m_document;
    int m_delayMs = kDefaultDelayMs;
    QPointer<QmlApplicationViewer> m_view;
    bool m_cancelled = false;
    bool m_pinned = false;
    bool m_onNetworkPage = false;
};

} // namespace vb::ball

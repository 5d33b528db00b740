// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/popupcontroller.h"

#include "ball/ballposition.h"
#include "core/logging.h"

#include <QFile>
#include <QTimer>
#include <QUrl>

namespace vb::ball {

namespace {
// Whether the document is in this build (resources) or on disk.
bool documentExists(const QString& document)
{
    const QUrl url(document);
    if (url.scheme() == QLatin1String("qrc"))
        return QFile::exists(QLatin1Char(':') + url.path());
    return QFile::exists(url.isLocalFile() ? url.toLocalFile() : document);
}
} // namespace

QString PopupController::defaultDocument()
{
    return QStringLiteral("qrc:/Ball/Skins/PopUp.qml");
}

PopupController::PopupController(QWindow* ball, std::shared_ptr<const platform::IScreens> screens,
                                 QmlApplicationViewer::Publisher publish, QObject* parent)
    : QObject(parent), m_ball(ball), m_screens(std::move(screens)), m_publish(std::move(publish)),
      m_document(defaultDocument())
{}

PopupController::~PopupController()
{
    closeWindow();
}

void PopupController::closeWindow()
{
    QmlApplicationViewer* raw = m_view.data();
    m_view.clear();
    if (!raw)
        return;
    // Guarded: a slot of its closed() signal may delete it.
    const QPointer<QmlApplicationViewer> view(raw);
    view->close();
    // A panel that was never shown has no native window, so close() sends it no close event
    // and it would never delete itself; its context would keep pointing at the ball.
    delete view.data();
}

bool PopupController::ensureWindow()
{
    if (m_view)
        return true;
    if (!documentExists(m_document)) {
        qCDebug(lcBall) << "BallViewer: no Boost Panel document in this build";
        return false;
    }
    m_view = new QmlApplicationViewer(m_ball, m_publish);
    m_view->setDeleteOnClose(true);
    connect(m_view, &QmlApplicationViewer::focusOut, this, &PopupController::panelLostFocus);
    connect(m_view, &QmlApplicationViewer::showSkinsView, this,
            &PopupController::skinsViewRequested);
    connect(m_view, &BaseView::closed, this, &PopupController::windowClosed);
    connect(m_view, &QmlApplicationViewer::showScreenCapture, this,
            &PopupController::screenCaptureRequested);
    m_view->setMainQmlFile(m_document);
    return true;
}

void PopupController::showDelayed()
{
    m_cancelled = false;
    if (ensureWindow())
        QTimer::singleShot(m_delayMs, this, &PopupController::showUnlessCancelled);
}

void PopupController::showNow()
{
    m_cancelled = false;
    ensureWindow();
    showUnlessCancelled();
}

void PopupController::showUnlessCancelled()
{
    if (m_cancelled || !m_view)
        return;
    follow();
    // Activation asked for before the window is mapped is lost on most window managers; the
    // panel would then not be active and its focus-loss hiding would never fire.
    m_view->show();
    m_view->requestActivate();
    Q_EMIT shown();
}

void PopupController::cancel()
{
    m_cancelled = true;
    hideUnlessPinned();
}

void PopupController::hide()
{
    if (m_view)
        m_view->hide();
}

void PopupController::hideUnlessPinned()
{
    if (!isPinned())
        hide();
}

void PopupController::follow()
{
    if (!m_view)
        return;
    // The work area of the screen the ball is on, as the ball's own placement uses.
    const QRect ball(m_ball->position(), m_ball->size());
    const QRect area = BallPosition(m_screens).areaUnder(ball);
    m_view->setPosition(
        BaseView::calcPos(area, m_view->geometry(), ball.topLeft(), QRect(QPoint(), ball.size())));
}

void PopupController::setPinRequested(bool pinned)
{
    if (m_pinned == pinned)
        return;
    m_pinned = pinned;
    Q_EMIT pinRequestChanged(pinned);
}

bool PopupController::isPinned() const
{
    return m_pinned && m_view && m_onNetworkPage;
}

void PopupController::ballLostFocus()
{
    if (m_view && !m_view->isActive() && !isPinned())
        m_view->hide();
}

void PopupController::panelLostFocus()
{
    if (m_view && !m_ball->isActive() && !isPinned())
        m_view->hide();
}

void PopupController::windowClosed()
{
    m_view = nullptr;
}

} // namespace vb::ball

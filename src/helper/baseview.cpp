// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/baseview.h"
#include "helper/helperlogging.h"

#include "helper/hostenvironment.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>

#include <algorithm>

BaseView::BaseView(QWindow* owner) : QQuickView(static_cast<QWindow*>(nullptr)), m_owner(owner)
{
    setResizeMode(QQuickView::SizeViewToRootObject);
    setViewAttribs();
}

BaseView::~BaseView() = default;

void BaseView::setViewAttribs()
{
    // Skins draw round shapes: the window itself stays transparent where they draw nothing.
    QSurfaceFormat fmt = format();
    fmt.setAlphaBufferSize(8);
    setFormat(fmt);
    setColor(Qt::transparent);
    setFlags(flags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

void BaseView::prepare()
{
    if (m_prepared)
        return;
    m_prepared = true;
    HostEnvironment::instance().attach(engine());
    rootContext()->setContextProperty(QStringLiteral("Bv"), this);
    exportObject();
    bind();
}

void BaseView::setMainQmlFile(const QString& file)
{
    prepare();
    QUrl url = file.startsWith(QLatin1String("qrc:")) || file.contains(QLatin1String("://"))
                   ? QUrl(file)
                   : QUrl::fromLocalFile(file);
    setSource(url);
    if (status() == QQuickView::Error) {
        const auto errs = errors();
        for (const QQmlError& e : errs)
            qCWarning(lcHelper).noquote() << "BaseView:" << e.toString();
    }
    init();
}

void BaseView::init() {}
void BaseView::bind() {}
void BaseView::exportObject() {}
void BaseView::onQmlWindowResized() {}
void BaseView::topMostSetted(bool) {}

void BaseView::doShow(bool hideAfterShow)
{
    if (m_closing)
        return;
    show();
    raise();
    requestActivate();
    if (hideAfterShow)
        hide();
}

void BaseView::doModal()
{
    setModality(Qt::ApplicationModal);
    doShow(false);
}

void BaseView::setTopMost(bool topMost)
{
    if (m_topMost == topMost)
        return;
    m_topMost = topMost;
    setFlag(Qt::WindowStaysOnTopHint, topMost);
    topMostSetted(topMost);
}

void BaseView::moveParentCenter(int dx, int dy)
{
    QRect ref;
    if (m_owner && m_owner->isVisible())
        ref = m_owner->geometry();
    else if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
        ref = s->availableGeometry();
    setPosition(ref.center().x() - width() / 2 + dx, ref.center().y() - height() / 2 + dy);
}

QPoint BaseView::calcPos(const QRect& area, const QRect& rect, const QPoint& anchorPos,
                         const QRect& anchorRect)
{
    const int w = rect.width();
    const int h = rect.height();
    const int aw = anchorRect.width();
    const int roomLeft = anchorPos.x() - area.left();
    const int roomRight = area.right() + 1 - (anchorPos.x() + aw);
    int x;
    if (roomLeft >= w)
        x = anchorPos.x() - w;
    else if (roomRight >= w)
        x = anchorPos.x() + aw;
    else // neither side has room: overlap the anchor, on the side with more space
        x = roomLeft >= roomRight ? area.left() : area.right() + 1 - w;
    int y = anchorPos.y();
    y = std::min(y, area.bottom() + 1 - h);
    // Never push the window's top-left out of the area, even when it is larger than the area.
    x = std::max(std::min(x, area.right() + 1 - w), area.left());
    y = std::max(y, area.top());
    return QPoint(x, y);
}

void BaseView::qmlWindowResize(int w, int h)
{
    if (w <= 0 || h <= 0)
        return;
    // The view's own bounds hold whatever size a document asks for.
    resize(QSize(w, h).expandedTo(minimumSize()).boundedTo(maximumSize()));
    onQmlWindowResized();
}

void BaseView::mousePressed()
{
    m_dragArmed = true;
    m_dragging = false;
}

void BaseView::mousePressChanged(int area)
{
    if (area != HostEnvironment::TitleArea || !m_dragArmed)
        return;
    m_dragging = true;
    // The event's global position, not one mapped in QML: window moves are asynchronous,
    // so positions computed from the window's own coordinates overshoot during a fast drag.
    setPosition((m_lastGlobal - m_pressOffset).toPoint());
}

void BaseView::mouseTitleDoubleClicked()
{
    m_dragArmed = false;
    m_dragging = false;
}

void BaseView::qmlClose()
{
    close();
}

void BaseView::addAllowFocusId(qulonglong id)
{
    m_allowFocus.insert(id);
}

void BaseView::mousePressEvent(QMouseEvent* e)
{
    m_pressOffset = e->position();
    m_lastGlobal = e->globalPosition();
    m_dragArmed = false;
    QQuickView::mousePressEvent(e);
}

void BaseView::mouseMoveEvent(QMouseEvent* e)
{
    m_lastGlobal = e->globalPosition();
    QQuickView::mouseMoveEvent(e);
}

void BaseView::mouseReleaseEvent(QMouseEvent* e)
{
    m_lastGlobal = e->globalPosition();
    QQuickView::mouseReleaseEvent(e);
    m_dragArmed = false;
    m_dragging = false;
}

void BaseView::closeEvent(QCloseEvent* e)
{
    QQuickView::closeEvent(e);
    if (!e->isAccepted())
        return;
    Q_EMIT closed();
    if (m_deleteOnClose)
        deleteLater();
}

void BaseView::showEvent(QShowEvent* e)
{
    QQuickView::showEvent(e);
}

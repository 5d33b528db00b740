// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/kestui.h"
#include "helper/helperlogging.h"

#include <QClipboard>
#include <QCursor>
#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QQmlContext>
#include <QQmlEngine>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

namespace {
QString localPath(const QUrl& u)
{
    if (u.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + u.path();
    if (u.isLocalFile())
        return u.toLocalFile();
    return u.toString();
}
} // namespace

ImageDigit::ImageDigit(QQuickItem* parent) : QQuickPaintedItem(parent) {}

void ImageDigit::setSource(const QUrl& u)
{
    if (u == m_source)
        return;
    m_source = u;
    // Relative sources resolve against the document that set them.
    const QUrl resolved = qmlContext(this) ? qmlContext(this)->resolvedUrl(u) : u;
    if (!m_strip.load(localPath(resolved)))
        qCWarning(lcHelper).noquote() << "ImageDigit: cannot load" << resolved.toString();
    Q_EMIT changed();
    update();
}

void ImageDigit::setDigit(int d)
{
    if (d == m_digit)
        return;
    m_digit = d;
    Q_EMIT changed();
    update();
}

void ImageDigit::setDigitStart(int s)
{
    if (s == m_digitStart)
        return;
    m_digitStart = s;
    Q_EMIT changed();
    update();
}

void ImageDigit::setDigitSize(const QSize& s)
{
    if (s == m_digitSize)
        return;
    m_digitSize = s;
    Q_EMIT changed();
    update();
}

int ImageDigit::cellFor(int digit) const
{
    if (m_digitSize.width() <= 0 || m_strip.isNull())
        return -1;
    const int cells = m_strip.width() / m_digitSize.width();
    const int cell = digit - m_digitStart;
    return cell >= 0 && cell < cells ? cell : -1;
}

void ImageDigit::paint(QPainter* p)
{
    const int cell = cellFor(m_digit);
    if (cell < 0)
        return; // a digit the strip has no picture for shows nothing
    const QRect src(cell * m_digitSize.width(), 0, m_digitSize.width(), m_digitSize.height());
    p->drawImage(QRectF(0, 0, m_digitSize.width(), m_digitSize.height()), m_strip, src);
}

CursorShapeArea::CursorShapeArea(QQuickItem* parent) : QQuickItem(parent)
{
    setAcceptedMouseButtons(Qt::AllButtons);
    setAcceptHoverEvents(true);
    setCursor(QCursor(m_shape));
}

void CursorShapeArea::setCursorShape(Qt::CursorShape s)
{
    if (s == m_shape)
        return;
    m_shape = s;
    setCursor(QCursor(s));
    Q_EMIT cursorShapeChanged();
}

void CursorShapeArea::mousePressEvent(QMouseEvent* e)
{
    e->accept();
}

ImageDesktop::ImageDesktop(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    setFlag(ItemAcceptsInputMethod, false);
    grabDesktop();
}

void ImageDesktop::grabDesktop()
{
    // Every screen at its place in the virtual desktop, which the capture window covers.
    const QList<QScreen*> screens = QGuiApplication::screens();
    QRect all;
    for (QScreen* s : screens)
        all |= s->geometry();
    if (all.isEmpty()) {
        qCWarning(lcHelper) << "ImageDesktop: no screen to capture";
        return;
    }
    QImage desktop(all.size(), QImage::Format_ARGB32_Premultiplied);
    desktop.fill(Qt::black);
    QPainter p(&desktop);
    bool any = false;
    for (QScreen* s : screens) {
        const QImage shot = s->grabWindow(0).toImage();
        if (shot.isNull())
            continue;
        any = true;
        const QRect g = s->geometry();
        p.drawImage(QRect(g.topLeft() - all.topLeft(), g.size()), shot);
    }
    p.end();
    if (any)
        m_desktop = desktop;
    else
        qCWarning(lcHelper) << "ImageDesktop: the desktop could not be captured";
}

void ImageDesktop::setThisWndId(qulonglong id)
{
    if (id == m_thisWndId)
        return;
    m_thisWndId = id;
    Q_EMIT thisWndIdChanged();
}

void ImageDesktop::setParentView(QObject* v)
{
    if (v == m_parentView)
        return;
    m_parentView = v;
    Q_EMIT parentViewChanged();
}

QImage ImageDesktop::capturedImage() const
{
    if (m_selection.isEmpty())
        return m_desktop;
    return m_desktop.copy(m_selection);
}

void ImageDesktop::finish(bool keep)
{
    if (m_needClose)
        return;
    if (keep && !m_desktop.isNull()) {
        const QImage img = capturedImage();
        if (QGuiApplication::clipboard())
            QGuiApplication::clipboard()->setImage(img);
        Q_EMIT captured(img);
    }
    m_needClose = true;
    Q_EMIT needCloseChanged();
}

void ImageDesktop::paint(QPainter* p)
{
    if (m_desktop.isNull())
        return;
    p->drawImage(boundingRect(), m_desktop);
    // Dim everything but the chosen rectangle.
    QPainterPath all;
    all.addRect(boundingRect());
    QPainterPath sel;
    sel.addRect(QRectF(m_selection));
    p->fillPath(all.subtracted(sel), QColor(0, 0, 0, 110));
    if (!m_selection.isEmpty()) {
        p->setPen(QPen(QColor(0x2a, 0xa8, 0xff), 2));
        p->drawRect(QRectF(m_selection));
    }
}

void ImageDesktop::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::RightButton) {
        finish(false);
        return;
    }
    m_anchor = e->position().toPoint();
    m_selection = QRect(m_anchor, QSize(0, 0));
    Q_EMIT selectionChanged();
    update();
}

void ImageDesktop::mouseMoveEvent(QMouseEvent* e)
{
    // From the press to the pointer, both edges on pixel boundaries: QRect(p1, p2) would take
    // p2 as the last pixel inside and make the picture one pixel wider and taller.
    const QPoint to = e->position().toPoint();
    m_selection = QRect(QPoint(std::min(m_anchor.x(), to.x()), std::min(m_anchor.y(), to.y())),
                        QSize(std::abs(to.x() - m_anchor.x()), std::abs(to.y() - m_anchor.y())));
    Q_EMIT selectionChanged();
    update();
}

void ImageDesktop::mouseReleaseEvent(QMouseEvent* e)
{
    mouseMoveEvent(e);
}

void ImageDesktop::mouseDoubleClickEvent(QMouseEvent*)
{
    finish(true);
}

void ImageDesktop::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape)
        finish(false);
    else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        finish(true);
    else
        QQuickPaintedItem::keyPressEvent(e);
}

namespace kest {
void registerModules()
{
    qmlRegisterUncreatableType<VDSTypes>("KestTypes", 1, 0, "VDSTypes",
                                         QStringLiteral("VDSTypes holds constants only"));
    qmlRegisterType<ImageDigit>("KestUIExtension", 1, 0, "ImageDigit");
    qmlRegisterType<CursorShapeArea>("KestUIExtension", 1, 0, "CursorShapeArea");
    qmlRegisterType<ImageDesktop>("KestUIExtension", 1, 0, "ImageDesktop");
}
} // namespace kest

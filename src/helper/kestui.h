// SPDX-License-Identifier: GPL-3.0-or-later
// The host's QML elements: module KestTypes (VDSTypes) and module KestUIExtension
// (ImageDigit, CursorShapeArea, ImageDesktop).
#pragma once

#include "helper/vdshelper_export.h"

#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QUrl>

class QWindow;

class VDSHELPER_EXPORT VDSTypes : public QObject
{
    Q_OBJECT
public:
    enum BaseViewPressArea { BVPA_None = 0, BVPA_Title = 1, BVPA_Client = 2 };
    Q_ENUM(BaseViewPressArea)
};

// One cell of a horizontal strip of digit pictures: cell (digit - digitStart) is drawn, so
// digitStart -4 means the strip begins with four other cells before the 0.
class VDSHELPER_EXPORT ImageDigit : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(QUrl source READ source WRITE setSource NOTIFY changed)
    Q_PROPERTY(int digit READ digit WRITE setDigit NOTIFY changed)
    Q_PROPERTY(int digitStart READ digitStart WRITE setDigitStart NOTIFY changed)
    Q_PROPERTY(QSize digitSize READ digitSize WRITE setDigitSize NOTIFY changed)
public:
    explicit ImageDigit(QQuickItem* parent = nullptr);
    QUrl source() const { return m_source; }
    int digit() const { return m_digit; }
    int digitStart() const { return m_digitStart; }
    QSize digitSize() const { return m_digitSize; }
    void setSource(const QUrl& u);
    void setDigit(int d);
    void setDigitStart(int s);
    void setDigitSize(const QSize& s);
    void paint(QPainter* p) override;
    // The strip cell a digit is drawn from, -1 when the strip has no such cell.
    int cellFor(int digit) const;

Q_SIGNALS:
    void changed();

private:
    QUrl m_source;
    QImage m_strip;
    int m_digit = 0;
    int m_digitStart = 0;
    QSize m_digitSize{10, 10};
};

// Sets the mouse cursor over its area and takes the clicks there (so what lies below does not).
class VDSHELPER_EXPORT CursorShapeArea : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(
        Qt::CursorShape cursorShape READ cursorShape WRITE setCursorShape NOTIFY cursorShapeChanged)
public:
    explicit CursorShapeArea(QQuickItem* parent = nullptr);
    Qt::CursorShape cursorShape() const { return m_shape; }
    void setCursorShape(Qt::CursorShape s);

Q_SIGNALS:
    void cursorShapeChanged();

protected:
    void mousePressEvent(QMouseEvent* e) override;

private:
    Qt::CursorShape m_shape = Qt::ArrowCursor;
};

// A picture of the whole desktop, taken when the element is created, on which the user drags
// a rectangle to keep; Escape or a right click ends the capture (needClose), Enter or a
// double click copies the chosen part to the clipboard and ends it too.
class VDSHELPER_EXPORT ImageDesktop : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(qulonglong thisWndId READ thisWndId WRITE setThisWndId NOTIFY thisWndIdChanged)
    Q_PROPERTY(QObject* parentView READ parentView WRITE setParentView NOTIFY parentViewChanged)
    Q_PROPERTY(bool needClose READ needClose NOTIFY needCloseChanged)
    Q_PROPERTY(qulonglong focusWndId READ focusWndId NOTIFY focusWndIdChanged)
    Q_PROPERTY(QRect selection READ selection NOTIFY selectionChanged)
public:
    explicit ImageDesktop(QQuickItem* parent = nullptr);
    qulonglong thisWndId() const { return m_thisWndId; }
    void setThisWndId(qulonglong id);
    QObject* parentView() const { return m_parentView; }
    void setParentView(QObject* v);
    bool needClose() const { return m_needClose; }
    qulonglong focusWndId() const { return m_focusWndId; }
    QRect selection() const { return m_selection; }
    QImage desktop() const { return m_desktop; }
    void paint(QPainter* p) override;
    // The chosen part of the desktop (the whole desktop when nothing is chosen).
    Q_INVOKABLE QImage capturedImage() const;
    Q_INVOKABLE void finish(bool keep);

Q_SIGNALS:
    void thisWndIdChanged();
    void parentViewChanged();
    void needCloseChanged();
    void focusWndIdChanged();
    void selectionChanged();
    void captured(const QImage& image);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void grabDesktop();
    qulonglong m_thisWndId = 0;
    QPointer<QObject> m_parentView;
    bool m_needClose = false;
    qulonglong m_focusWndId = 0;
    QImage m_desktop;
    QRect m_selection;
    QPoint m_anchor;
};

namespace kest {
VDSHELPER_EXPORT void registerModules();
}

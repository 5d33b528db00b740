// SPDX-License-Identifier: GPL-3.0-or-later
// The host's base of every frameless QML window: publishes "Bv", lets a document drag the
// window by a title area, resize it, stay on top and report when it closes.
#pragma once

#include "helper/vdshelper_export.h"

#include <QPointF>
#include <QPointer>
#include <QQuickView>
#include <QSet>

class VDSHELPER_EXPORT BaseView : public QQuickView
{
    Q_OBJECT
    Q_PROPERTY(qulonglong winId READ winIdValue CONSTANT)
public:
    // owner is the window this one belongs to (centring, focus rules); it is not made the
    // native parent, so the view stays a top-level window.
    explicit BaseView(QWindow* owner = nullptr);
    ~BaseView() override;

    virtual void setMainQmlFile(const QString& file);
    virtual void init();
    virtual void doShow(bool hideAfterShow);
    virtual void doModal();
    virtual void onQmlWindowResized();
    virtual void topMostSetted(bool topMost);
    virtual void setViewAttribs();
    virtual void bind();
    virtual void exportObject();

    void setTopMost(bool topMost);
    bool isTopMost() const { return m_topMost; }
    // Centres the window on its owner (or the primary screen), shifted by dx, dy.
    void moveParentCenter(int dx, int dy);
    QWindow* owner() const { return m_owner; }
    // Secondary windows are forgotten by their owners when they close; they delete themselves.
    void setDeleteOnClose(bool on) { m_deleteOnClose = on; }

    // Top-left point for a window of rect placed beside an anchor (at anchorPos, of
    // anchorRect's size), kept inside area: left of the anchor when it fits, else right of it;
    // top edges aligned, moved up to stay inside; an area too small keeps the top-left visible.
    static QPoint calcPos(const QRect& area, const QRect& rect, const QPoint& anchorPos,
                          const QRect& anchorRect);

    Q_INVOKABLE void qmlWindowResize(int w, int h);
    Q_INVOKABLE void mousePressed();
    Q_INVOKABLE void mousePressChanged(int area);
    Q_INVOKABLE void mouseTitleDoubleClicked();
    Q_INVOKABLE void qmlClose();
    Q_INVOKABLE void addAllowFocusId(qulonglong id);

    qulonglong winIdValue() { return qulonglong(winId()); }
    // Native windows (besides this one) whose focus does not count as this view losing it.
    bool isAllowedFocus(qulonglong id) const { return m_allowFocus.contains(id); }

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

    // Set while the view is being torn down by its owner; doShow does nothing then.
    bool m_closing = false;

private:
    void prepare();

    QPointer<QWindow> m_owner;
    bool m_prepared = false;
    bool m_deleteOnClose = false;
    bool m_topMost = true;
    bool m_dragArmed = false;
    bool m_dragging = false;
    QPointF m_pressOffset;
    QPointF m_lastGlobal;
    QSet<qulonglong> m_allowFocus;
};

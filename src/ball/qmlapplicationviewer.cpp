// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/qmlapplicationviewer.h"

#include <QQmlContext>

QmlApplicationViewer::QmlApplicationViewer(QWindow* owner, Publisher publish)
    : BaseView(owner), m_publish(std::move(publish))
{
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

void QmlApplicationViewer::exportObject()
{
    rootContext()->setContextProperty(QStringLiteral("EP"), this);
    if (m_publish)
        m_publish(rootContext());
}

void QmlApplicationViewer::focusOutEvent(QFocusEvent* e)
{
    BaseView::focusOutEvent(e);
    Q_EMIT focusOut();
}

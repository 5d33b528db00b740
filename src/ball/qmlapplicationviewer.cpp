// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/qmlapplicationviewer.h"

#include <QDesktopServices>
#include <QQmlContext>
#include <QUrl>

const QString QmlApplicationViewer::kShareServer = QStringLiteral("https://share.verdantsuite.org");

QUrl QmlApplicationViewer::shareUrl()
{
    QUrl url(kShareServer);
    url.setPath(QStringLiteral("/api/vdsshare.php"));
    // The doubled ampersand is what the share service expects; kept verbatim.
    url.setQuery(QStringLiteral("act=facebook&&from=pulsar"), QUrl::StrictMode);
    return url;
}

QmlApplicationViewer::QmlApplicationViewer(QWindow* owner, Publisher publish)
    : BaseView(owner), m_publish(std::move(publish))
{
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
}

void QmlApplicationViewer::exportObject()
{
    rootContext()->setContextProperty(QStringLiteral("EP"), this);
    m_publish(rootContext());
}

void QmlApplicationViewer::focusInEvent(QFocusEvent*) {}

void QmlApplicationViewer::focusOutEvent(QFocusEvent*)
{
    Q_EMIT focusOut();
}

void QmlApplicationViewer::onDelayHide() {}

void QmlApplicationViewer::qmlHide()
{
    hide();
}

void QmlApplicationViewer::qmlShowSkinsView()
{
    Q_EMIT showSkinsView();
}

void QmlApplicationViewer::qmlShowScreenCapture()
{
    Q_EMIT showScreenCapture();
}

void QmlApplicationViewer::qmlFacebook()
{
    QDesktopServices::openUrl(shareUrl());
}

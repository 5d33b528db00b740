// SPDX-License-Identifier: GPL-3.0-or-later
// The Boost Panel window beside the ball. Its publishing function puts the ball's models into
// the panel's QML context before the panel's document is created.
#pragma once

#include "ball/ballexport.h"
#include "helper/baseview.h"

#include <functional>

class QQmlContext;

class VERDANTBALL_EXPORT QmlApplicationViewer : public BaseView
{
    Q_OBJECT
public:
    using Publisher = std::function<void(QQmlContext*)>;
    // Where the share page lives; the page's path and query are fixed by the service.
    static const QString kShareServer;
    // The page the panel's share button opens.
    static QUrl shareUrl();

    QmlApplicationViewer(QWindow* owner, Publisher publish);

Q_SIGNALS:
    void focusOut();
    void showSkinsView();
    void showScreenCapture();

private Q_SLOTS:
    void onDelayHide();

public:
    Q_INVOKABLE void qmlHide();
    Q_INVOKABLE void qmlShowSkinsView();
    Q_INVOKABLE void qmlShowScreenCapture();
    Q_INVOKABLE void qmlFacebook();

protected:
    // Publishes the window as "EP", then whatever the publishing function adds; a panel made
    // without one is a programming error and throws std::bad_function_call.
    void exportObject() override;
    // Focus changes are the ball's business (it decides whether the panel goes); the base
    // view's handling is left out on purpose.
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    Publisher m_publish;
};

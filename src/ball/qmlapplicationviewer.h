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
    QmlApplicationViewer(QWindow* owner, Publisher publish);

Q_SIGNALS:
    void focusOut();
    void showSkinsView();
    void showScreenCapture();

protected:
    void exportObject() override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    Publisher m_publish;
};

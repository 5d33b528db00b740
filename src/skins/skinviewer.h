// SPDX-License-Identifier: GPL-3.0-or-later
// The skin chooser: a small window of preview tiles, one per skin of the catalogue; a click on
// a tile dresses the ball in that skin at once and the window stays open.
#pragma once

#include "helper/baseview.h"

#include <functional>

class QQmlContext;

class SkinViewer : public BaseView
{
    Q_OBJECT
public:
    using Publisher = std::function<void(QQmlContext*)>;
    static const QString kDocument; // "qrc:/Ball/Skins/SkinView.qml"

    // publish adds the catalogue (as "SkinsList") to the chooser's context.
    explicit SkinViewer(Publisher publish, QWindow* parent = nullptr);

    // Centres the chooser, shows it and brings it to the front; with hideAfterShow it goes
    // again at once. Nothing happens while the window is being torn down.
    void doShow(bool hideAfterShow) override;

    // The close button: the chooser only hides, so the next request shows the same window.
    Q_INVOKABLE void qmlHide();

protected:
    void exportObject() override;

private:
    Publisher m_publish;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "skins/skinviewer.h"

#include <QQmlContext>

const QString SkinViewer::kDocument = QStringLiteral("qrc:/Ball/Skins/SkinView.qml");

SkinViewer::SkinViewer(Publisher publish, QWindow* parent)
    : BaseView(parent), m_publish(std::move(publish))
{}

void SkinViewer::exportObject()
{
    rootContext()->setContextProperty(QStringLiteral("EP"), this);
    m_publish(rootContext());
}

void SkinViewer::doShow(bool hideAfterShow)
{
    if (m_closing)
        return;
    moveParentCenter(0, 0);
    show();
    // Activation is asked for once the window is mapped: asked for earlier it is lost.
    raise();
    requestActivate();
    if (hideAfterShow)
        hide();
}

void SkinViewer::qmlHide()
{
    hide();
}

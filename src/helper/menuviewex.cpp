// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/menuviewex.h"

#include <QCursor>
#include <QDebug>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QQmlContext>
#include <QScreen>

MenuActions::MenuActions(const QString& text, QObject* parent, bool separatorAfter, bool enabled,
                         const QString& iconPath)
    : QObject(parent), m_text(text), m_icon(iconPath), m_separatorAfter(separatorAfter),
      m_enabled(enabled)
{}

QString MenuActions::iconUrl() const
{
    if (m_icon.startsWith(QLatin1String(":/")))
        return QStringLiteral("qrc") + m_icon;
    if (m_icon.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(m_icon).toString();
    return m_icon;
}

void MenuActions::trigger()
{
    if (m_enabled)
        Q_EMIT triggered(m_data.isValid() ? m_data : QVariant(m_text));
}

MenuViewEx::MenuViewEx(QWindow* owner) : BaseView(owner)
{
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setDeleteOnClose(true);
}

MenuViewEx::~MenuViewEx() = default;

void MenuViewEx::exportObject()
{
    rootContext()->setContextProperty(QStringLiteral("Menu"), this);
}

void MenuViewEx::addActions(const QList<MenuActions*>& actions)
{
    for (MenuActions* a : actions) {
        if (!a)
            continue;
        a->setParent(this);
        m_actions.append(a);
    }
    Q_EMIT actionsChanged();
}

QList<QObject*> MenuViewEx::actionObjects() const
{
    QList<QObject*> out;
    for (MenuActions* a : m_actions)
        out.append(a);
    return out;
}

void MenuViewEx::popMenu()
{
    popMenuAt(QCursor::pos());
}

void MenuViewEx::popMenuAt(const QPoint& globalPos)
{
    if (!source().isValid())
        setMainQmlFile(QStringLiteral("qrc:/Skin/Global/MenuView.qml"));
    QScreen* s = QGuiApplication::screenAt(globalPos);
    if (!s)
        s = QGuiApplication::primaryScreen();
    const QRect area = s ? s->availableGeometry() : QRect(globalPos, size());
    // Open down-right of the pointer; flip to the other side where the screen ends.
    int x = globalPos.x();
    int y = globalPos.y();
    if (x + width() > area.right() + 1)
        x = std::max(area.left(), x - width());
    if (y + height() > area.bottom() + 1)
        y = std::max(area.top(), y - height());
    setPosition(x, y);
    show();
    raise();
    requestActivate();
    // With the pointer grabbed, a press anywhere outside still reaches this window.
    setMouseGrabEnabled(true);
    setKeyboardGrabEnabled(true);
}

void MenuViewEx::pick(int index)
{
    if (m_done || index < 0 || index >= m_actions.size() || !m_actions[index]->isEnabled())
        return;
    m_done = true;
    MenuActions* a = m_actions[index];
    setMouseGrabEnabled(false);
    setKeyboardGrabEnabled(false);
    hide();
    a->trigger();
    close();
}

void MenuViewEx::mousePressEvent(QMouseEvent* e)
{
    if (!QRect(QPoint(0, 0), size()).contains(e->position().toPoint())) {
        setMouseGrabEnabled(false);
        setKeyboardGrabEnabled(false);
        close();
        return;
    }
    BaseView::mousePressEvent(e);
}

void MenuViewEx::focusOutEvent(QFocusEvent* e)
{
    BaseView::focusOutEvent(e);
    // Under a window manager a click elsewhere takes the focus away: the menu goes.
    if (isVisible() && !m_done) {
        setMouseGrabEnabled(false);
        setKeyboardGrabEnabled(false);
        close();
    }
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The host's popup menu: a frameless window of items at the mouse, closed by a pick, an
// outside click or Escape, and navigable with the arrow keys and Enter.
#pragma once

#include "helper/baseview.h"

#include <QList>
#include <QVariant>

class VDSHELPER_EXPORT MenuActions : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text CONSTANT)
    Q_PROPERTY(QString icon READ iconUrl CONSTANT)
    Q_PROPERTY(bool separatorAfter READ separatorAfter CONSTANT)
    Q_PROPERTY(bool enabled READ isEnabled CONSTANT)
public:
    // separatorAfter draws a line below the item; a disabled item cannot be picked.
    MenuActions(const QString& text, QObject* parent, bool separatorAfter, bool enabled,
                const QString& iconPath);
    QString text() const { return m_text; }
    QString iconPath() const { return m_icon; }
    // The icon as a URL a document can load (":/x" becomes "qrc:/x").
    QString iconUrl() const;
    bool separatorAfter() const { return m_separatorAfter; }
    bool isEnabled() const { return m_enabled; }
    void setData(const QVariant& d) { m_data = d; }
    QVariant data() const { return m_data; }
    Q_INVOKABLE void trigger();

Q_SIGNALS:
    void triggered(const QVariant& data);

private:
    QString m_text;
    QString m_icon;
    bool m_separatorAfter;
    bool m_enabled;
    QVariant m_data;
};

class VDSHELPER_EXPORT MenuViewEx : public BaseView
{
    Q_OBJECT
    Q_PROPERTY(QList<QObject*> actions READ actionObjects NOTIFY actionsChanged)
public:
    explicit MenuViewEx(QWindow* owner = nullptr);
    ~MenuViewEx() override;
    // The menu takes the items as its children.
    void addActions(const QList<MenuActions*>& actions);
    QList<MenuActions*> menuActions() const { return m_actions; }
    QList<QObject*> actionObjects() const;
    // Shows the menu at the mouse pointer (kept on screen) and takes mouse and keyboard.
    void popMenu();
    // The same at a given global point (tests, keyboard menus).
    void popMenuAt(const QPoint& globalPos);
    // Picks item index: closes the menu, then emits the item's triggered().
    Q_INVOKABLE void pick(int index);

Q_SIGNALS:
    void actionsChanged();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void exportObject() override;

private:
    QList<MenuActions*> m_actions;
    bool m_done = false;
};

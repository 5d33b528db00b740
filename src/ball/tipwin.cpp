// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/tipwin.h"

#include <algorithm>

TipWin::TipWin(QWindow* parent) : BaseView(parent)
{
    // A note, not a window of its own: no task bar entry, and it never takes the focus away
    // from what the user is doing.
    setFlags(flags() | Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
             Qt::WindowDoesNotAcceptFocus);
}

TipWin::~TipWin() = default;

void TipWin::exportObject()
{
    // The note's document reaches the note only as "Bv".
}

void TipWin::setText(const QString& text)
{
    if (m_text == text)
        return;
    m_text = text;
    Q_EMIT textChanged(m_text);
}

void TipWin::setShowFlag(bool show)
{
    if (m_showFlag == show)
        return;
    m_showFlag = show;
    Q_EMIT showFlagChanged(show);
    if (show)
        this->show();
    else
        hide();
}

QPoint TipWin::placeAbove(const QRect& ball, const QSize& noteSize, const QRect& area)
{
    int x = ball.x();
    int y = ball.y() - noteSize.height();
    if (area.isEmpty())
        return QPoint(x, y);
    if (y < area.top())
        y = ball.y() + ball.height();
    y = std::max(std::min(y, area.bottom() + 1 - noteSize.height()), area.top());
    x = std::max(std::min(x, area.right() + 1 - noteSize.width()), area.left());
    return QPoint(x, y);
}

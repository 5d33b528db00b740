// SPDX-License-Identifier: GPL-3.0-or-later
// The small note above the ball that tells how much memory a release freed. Its document
// fades it in and out and sets showFlag back to false, which hides the window for reuse.
#pragma once

#include "helper/baseview.h"

#include <QRect>
#include <QSize>

class TipWin : public BaseView
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    Q_PROPERTY(bool showFlag READ showFlag WRITE setShowFlag NOTIFY showFlagChanged)
public:
    explicit TipWin(QWindow* parent);
    ~TipWin() override;

    QString text() const { return m_text; }
    void setText(const QString& text);
    bool showFlag() const { return m_showFlag; }
    void setShowFlag(bool show);

    // Top-left corner for a note of noteSize over a ball at ball: left edges aligned and the
    // note's bottom edge just above the ball. Where that would leave the work area the note
    // is kept inside it: pushed left from the right edge, right from the left edge, and put
    // just below the ball when there is no room above it. An empty area keeps the plain rule.
    static QPoint placeAbove(const QRect& ball, const QSize& noteSize, const QRect& area);

Q_SIGNALS:
    void textChanged(QString text);
    void showFlagChanged(bool showFlag);

protected:
    void exportObject() override;

private:
    QString m_text;
    bool m_showFlag = false;
};

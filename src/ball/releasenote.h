// SPDX-License-Identifier: GPL-3.0-or-later
// The note above the ball that tells what a memory release freed: one window, made on the
// first release, reused by the next ones, and forgotten when it closes.
#pragma once

#include <QRect>
#include <QString>

class QWindow;
class TipWin;

namespace vb::ball {

class ReleaseNote
{
public:
    // From one mebibyte on, the note tells the amount.
    static constexpr quint64 kAmountFromBytes = 0x100000;

    explicit ReleaseNote(QWindow* ball);
    ~ReleaseNote();
    ReleaseNote(const ReleaseNote&) = delete;
    ReleaseNote& operator=(const ReleaseNote&) = delete;

    static QString message(quint64 freedBytes);
    // Tells what a release freed, above ball and inside area.
    void show(quint64 freedBytes, const QRect& ball, const QRect& area);
    // Keeps a shown note above the ball as the ball moves.
    void follow(const QRect& ball, const QRect& area);
    // The note closed (it deletes itself): the next release makes a new one.
    void windowClosed() { m_note = nullptr; }
    TipWin* window() const { return m_note; }

private:
    QWindow* m_ball;
    TipWin* m_note = nullptr;
};

} // namespace vb::ball

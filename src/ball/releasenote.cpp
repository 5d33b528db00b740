// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/releasenote.h"

#include "ball/tipwin.h"
#include "core/logging.h"
#include "core/sizetext.h"

#include <QCoreApplication>

namespace vb::ball {

namespace {
const QString kDocument = QStringLiteral("qrc:/Ball/Skins/PopupReleaseMemoryNote.qml");
} // namespace

ReleaseNote::ReleaseNote(QWindow* ball) : m_ball(ball) {}

ReleaseNote::~ReleaseNote()
{
    if (m_note) {
        // Closing makes the note forget itself; the window goes with the ball.
        TipWin* note = m_note;
        note->close();
        delete note;
    }
}

QString ReleaseNote::message(quint64 freedBytes)
{
    // The texts keep the ball's translation context.
    return freedBytes >= kAmountFromBytes
               ? QCoreApplication::translate("BallViewer", "Released %1 memory for computer.")
                     .arg(vb::sizeText(freedBytes))
               : QCoreApplication::translate("BallViewer", "Boosted. Your PC performance is good.");
}

void ReleaseNote::show(quint64 freedBytes, const QRect& ball, const QRect& area)
{
    if (!m_note) {
        m_note = new TipWin(m_ball);
        m_note->setDeleteOnClose(true);
        QObject::connect(m_note, &BaseView::closed, m_note, [this] { windowClosed(); });
        m_note->setMainQmlFile(kDocument);
    }
    const QString text = message(freedBytes);
    qCDebug(lcBall).noquote() << "BallViewer: memory release freed" << freedBytes
                              << "bytes:" << text;
    m_note->setText(text);
    follow(ball, area);
    m_note->show();
    m_note->setShowFlag(true);
}

void ReleaseNote::follow(const QRect& ball, const QRect& area)
{
    if (m_note)
        m_note->setPosition(TipWin::placeAbove(ball, m_note->size(), area));
}

} // namespace vb::ball

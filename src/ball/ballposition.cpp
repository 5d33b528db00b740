// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballposition.h"

#include "ball/ballplacement.h"
#include "core/logging.h"
#include "helper/setsmanager.h"

namespace vb::ball {

namespace {
const QString kKeyX = QStringLiteral("BallViewerX");
const QString kKeyY = QStringLiteral("BallViewerY");
const QString kKeyHide = QStringLiteral("BallViewerHide");

QRect toQRect(const platform::Rect& r)
{
    return QRect(r.x, r.y, r.width, r.height);
}
} // namespace

BallPosition::BallPosition(std::shared_ptr<const platform::IScreens> screens)
    : m_screens(std::move(screens))
{}

QPoint BallPosition::placeAtStart(const QSize& size) const
{
    const Placement p = placeBall(SetsManager::readValueUser(kKeyX),
                                  SetsManager::readValueUser(kKeyY), size, workAreas());
    if (p.usedDefaultX || p.usedDefaultY)
        qCDebug(lcBall) << "BallViewer: saved position incomplete, using the default corner for"
                        << (p.usedDefaultX ? "x" : "") << (p.usedDefaultY ? "y" : "");
    return p.pos;
}

void BallPosition::record(const QPoint& pos) const
{
    SetsManager::saveValueUser(kKeyX, pos.x());
    SetsManager::saveValueUser(kKeyY, pos.y());
}

void BallPosition::recordHidden() const
{
    SetsManager::saveValueUser(kKeyHide, true);
}

std::vector<platform::Rect> BallPosition::workAreas() const
{
    return m_screens ? m_screens->availableGeometries() : std::vector<platform::Rect>{};
}

QRect BallPosition::primaryArea() const
{
    return m_screens ? toQRect(m_screens->primaryAvailableGeometry()) : QRect();
}

QRect BallPosition::areaUnder(const QRect& rect) const
{
    for (const platform::Rect& r : workAreas()) {
        const QRect a = toQRect(r);
        if (a.contains(rect.center()))
            return a;
    }
    return primaryArea();
}

} // namespace vb::ball

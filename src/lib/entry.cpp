// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballviewer.h"
#include "lib/verdantball.h"

#include <QTranslator>

namespace {
BallViewer* asBall(BaseView* v)
{
    return qobject_cast<BallViewer*>(v);
}

BaseView* createBall(QWindow* hostView)
{
    // Where the library and the host meet: the backends are built once, here.
    return new BallViewer(hostView, vb::platform::makeNative());
}
void showAtPos(BaseView* v)
{
    if (BallViewer* b = asBall(v))
        b->showAtPos();
}
void hideBallView(BaseView* v)
{
    if (BallViewer* b = asBall(v))
        b->HideBallView();
}
void showPopup(BaseView* v, bool delayed)
{
    if (BallViewer* b = asBall(v))
        b->showPopup(delayed);
}
void destroyBall(BaseView* v)
{
    delete asBall(v);
}

const VerdantBallApi kApi{kVerdantBallAbi, createBall, showAtPos,
                          hideBallView,    showPopup,  destroyBall};
} // namespace

extern "C" Q_DECL_EXPORT const VerdantBallApi* verdantball_api()
{
    return &kApi;
}

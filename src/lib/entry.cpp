// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/ballviewer.h"
#include "flow/flowdatalist.h"
#include "lib/verdantball.h"
#include "procs/procdatalist.h"
#include "procs/procenum.h"

#include <QTranslator>

namespace {
// Loading the library makes the shared white judge (here, not by the lists, which come and go
// with each ball); the variable's own destructor releases it when the library unloads. No
// destructor of ours touches it: the order of static destructors across files is not ours.
void makeSystemWhiteJudge()
{
    const vb::platform::Platform native = vb::platform::makeNativeProcessViews();
    systemWhiteJudge = std::make_shared<JudgeSystemWhite>(native.processes, native.windows);
}
Q_CONSTRUCTOR_FUNCTION(makeSystemWhiteJudge)

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
void memoryStartEmptyMemorySet(BaseView* v)
{
    if (BallViewer* b = asBall(v))
        b->MemoryStartEmptyMemorySet();
}
void fixCurrent(BaseView* v, bool releaseMemory)
{
    if (BallViewer* b = asBall(v))
        b->fixCurrent(releaseMemory);
}
void needEnumCurrent(BaseView* v)
{
    if (BallViewer* b = asBall(v))
        b->needEnumCurrent();
}
std::shared_ptr<ProcDataList> procDataList(BaseView* v, int page)
{
    BallViewer* b = asBall(v);
    if (!b)
        return nullptr;
    switch (page) {
    case BallViewer::PP_Office:
        return b->procDataListOffice();
    case BallViewer::PP_Game:
        return b->procDataListGame();
    default:
        return nullptr;
    }
}
void beginEnum(ProcDataList* list)
{
    if (list)
        list->beginEnum();
}
void beginFix(ProcDataList* list, bool releaseMemory)
{
    if (list)
        list->beginFix(releaseMemory);
}
std::shared_ptr<FlowDataList> flowDataList(BaseView* v)
{
    BallViewer* b = asBall(v);
    return b ? b->flowDataList() : nullptr;
}
void setLastFixCount(BaseView* v, uint count)
{
    if (BallViewer* b = asBall(v))
        b->setLastFixCount(count);
}
void setLastFixMemory(BaseView* v, quint64 bytes)
{
    if (BallViewer* b = asBall(v))
        b->setLastFixMemory(bytes);
}

// clang-format off
const VerdantBallApi kApi{kVerdantBallAbi,
                          createBall,
                          showAtPos,
                          hideBallView,
                          showPopup,
                          destroyBall,
                          memoryStartEmptyMemorySet,
                          fixCurrent,
                          needEnumCurrent,
                          procDataList,
                          beginEnum,
                          beginFix,
                          flowDataList,
                          setLastFixCount,
                          setLastFixMemory};
// clang-format on
} // namespace

extern "C" Q_DECL_EXPORT const VerdantBallApi* verdantball_api()
{
    return &kApi;
}

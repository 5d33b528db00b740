// SPDX-License-Identifier: GPL-3.0-or-later
// What a host resolves after loading the ball library at run time.
#pragma once

#include <memory>

#include <QtGlobal>

class BaseView;
class FlowDataList;
class ProcDataList;
class QWindow;

struct VerdantBallApi
{
    int abiVersion; // kVerdantBallAbi
    // Creates the ball (a BallViewer) for the host's view; the host owns it.
    BaseView* (*createBall)(QWindow* hostView);
    void (*showAtPos)(BaseView* ball);
    void (*hideBallView)(BaseView* ball);
    void (*showPopup)(BaseView* ball, bool delayed);
    void (*destroyBall)(BaseView* ball);
    void (*memoryStartEmptyMemorySet)(BaseView* ball);
    // Fixes, or refreshes, the boost list of the Boost page shown (none for no page).
    void (*fixCurrent)(BaseView* ball, bool releaseMemory);
    void (*needEnumCurrent)(BaseView* ball);
    // The ball's boost list of a page (0 Office, 1 Game), shared with the host; empty for
    // any other page.
    std::shared_ptr<ProcDataList> (*procDataList)(BaseView* ball, int page);
    // A boost list's own entries: refresh from the running system, fix what is ticked.
    void (*beginEnum)(ProcDataList* list);
    void (*beginFix)(ProcDataList* list, bool releaseMemory);
    // The traffic model, shared with the host.
    std::shared_ptr<FlowDataList> (*flowDataList)(BaseView* ball);
    // Store a last fix record without telling anyone.
    void (*setLastFixCount)(BaseView* ball, uint count);
    void (*setLastFixMemory)(BaseView* ball, quint64 bytes);
};

constexpr int kVerdantBallAbi = 2;
constexpr const char* kVerdantBallEntry = "verdantball_api";

extern "C" {
using VerdantBallEntry = const VerdantBallApi* (*)();
}

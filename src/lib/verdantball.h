// SPDX-License-Identifier: GPL-3.0-or-later
// What a host resolves after loading the ball library at run time.
#pragma once

class BaseView;
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
};

constexpr int kVerdantBallAbi = 1;
constexpr const char* kVerdantBallEntry = "verdantball_api";

extern "C" {
using VerdantBallEntry = const VerdantBallApi* (*)();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory/emptingmemorysetnotifyer.h"

EmptingMemorySetNotifyer::EmptingMemorySetNotifyer() : QObject(nullptr) {}
EmptingMemorySetNotifyer::~EmptingMemorySetNotifyer() = default;

// SPDX-License-Identifier: GPL-3.0-or-later
// The fix worker: closes the ticked rows of a boost list on a detached thread of its own and
// hands back what it really closed through a FixEventNotifyer.
#pragma once

#include "platform/platform.h"
#include "procs/procinfo.h"
#include "procs/servicestop.h"

#include <QObject>

#include <memory>
#include <string>
#include <vector>

class FixEventNotifyer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    // The worker's rows (closed ones marked fixed), the entries closed and the bytes freed.
    void FixOver(ProcListItems_ptr rows, uint count, unsigned long long bytes);
};

namespace vb::procs {

// A process asked to close gets this long before it is forced.
constexpr uint32_t kTerminateWaitMs = 2000;
// The pause that lets closed programs give their memory back before it is measured.
constexpr uint32_t kReleasePauseMs = 1000;

// True when the listed process (its id and start time) has ended.
bool terminateProcessById(vb::platform::IProcesses& processes, vb::platform::ProcessId pid,
                          quint64 startTime);
struct FixResult
{
    uint count = 0;
    quint64 bytes = 0;
};

// The worker's body: closes the ticked rows (marking them fixed), releases memory when asked
// (appending its row) and returns what was closed and freed.
FixResult runFix(QList<ProcListItem>& rows, bool releaseMemory,
                 const vb::platform::Platform& backends);

// A notifier that may lose its last reference on the worker thread: it is then deleted on
// the thread it belongs to.
std::shared_ptr<FixEventNotifyer> makeFixEventNotifyer();

// Starts the detached worker, which emits notifier->FixOver once at its end. Throws the
// thread library's error when no thread can be made.
void startFixWorker(ProcListItems_ptr rows, std::shared_ptr<FixEventNotifyer> notifier,
                    bool releaseMemory, vb::platform::Platform backends);

} // namespace vb::procs

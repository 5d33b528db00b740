// SPDX-License-Identifier: GPL-3.0-or-later
// Queued signals hand a worker's data to the GUI thread through Qt's posted-event list, whose
// lock is a futex inside QtCore. ThreadSanitizer cannot see that lock unless Qt itself is built
// with it, so it reports the event and its arguments as raced. In a ThreadSanitizer build the
// worker emits under a lock of ours and the receiver takes that lock before it handles an event,
// which orders the two where the sanitizer can see it; in any other build both are nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <mutex>
#endif

namespace vb::core {

#if defined(__SANITIZE_THREAD__)
inline std::mutex& handoffMutex()
{
    static std::mutex m;
    return m;
}
// Held around one emission on the worker.
class HandoffEmit
{
    std::lock_guard<std::mutex> m_lock{handoffMutex()};
};
// First thing in a receiver's event().
inline void handoffTaken()
{
    std::lock_guard<std::mutex> l(handoffMutex());
}
#else
class HandoffEmit
{
};
inline void handoffTaken() {}
#endif

} // namespace vb::core

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/capturehotkey.h"

#include "core/logging.h"

namespace vb::ball {

CaptureHotKey::CaptureHotKey(std::shared_ptr<platform::IHotKeys> keys) : m_keys(std::move(keys)) {}

bool CaptureHotKey::ensureRegistered(uintptr_t window, std::function<void()> onPressed)
{
    if (m_registered || !m_keys)
        return m_registered;
    const auto result = m_keys->registerHotKey(
        window, kId, kModifiers, kVirtualKey, [onPressed = std::move(onPressed)](int id) {
            if (id != kId || !onPressed)
                return;
            qCDebug(lcBall) << "BallViewer: hot key Ctrl+Alt+C pressed";
            onPressed();
        });
    m_registered = result == platform::HotKeyResult::Registered;
    if (result == platform::HotKeyResult::Conflict)
        qCWarning(lcBall) << "BallViewer: the hot key Ctrl+Alt+C is taken by another program";
    else if (!m_registered)
        qCWarning(lcBall) << "BallViewer: the hot key Ctrl+Alt+C could not be registered";
    return m_registered;
}

} // namespace vb::ball

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/xcbhotkeys.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cctype>
#include <cstdlib>

namespace vb::platform::linux_ {

namespace {

// Caps Lock and Num Lock change the modifier state of every key press; a grab must be made
// for each combination of them or the hot key dies whenever one of them is on.
constexpr uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                   XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint8_t kBadAccess = 10;

xcb_connection_t* connection()
{
    // qGuiApp is a plain cast: in a program with only a QCoreApplication it names no GUI object.
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = gui ? gui->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c)
{
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    return it.rem ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// First keycode whose keysyms include the Latin letter or digit of a Windows virtual key.
uint8_t keycodeFor(xcb_connection_t* c, unsigned virtualKey)
{
    if (virtualKey > 0x7f || !std::isalnum(static_cast<int>(virtualKey)))
        return 0;
    const uint32_t keysym = static_cast<uint32_t>(std::tolower(static_cast<int>(virtualKey)));
    const xcb_setup_t* setup = xcb_get_setup(c);
    const uint8_t first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, first, static_cast<uint8_t>(count)), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    uint8_t found = 0;
    for (int i = 0; i < count && !found; ++i)
        for (int j = 0; j < perCode && j < 2; ++j)
            if (syms[i * perCode + j] == keysym) {
                found = static_cast<uint8_t>(first + i);
                break;
            }
    std::free(reply);
    return found;
}

} // namespace

class XcbHotKeys::Filter : public QAbstractNativeEventFilter
{
public:
    explicit Filter(XcbHotKeys* owner) : m_owner(owner) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7f) != XCB_KEY_PRESS)
            return false;
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
        return m_owner->dispatch(key->detail, key->state);
    }

private:
    XcbHotKeys* m_owner;
};

XcbHotKeys::XcbHotKeys() = default;

XcbHotKeys::~XcbHotKeys()
{
    if (connection())
        for (const auto& [key, grab] : m_grabs)
            ungrab(grab);
    if (m_filter && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(m_filter.get());
}

uint16_t XcbHotKeys::xModifiers(unsigned modifiers)
{
    uint16_t m = 0;
    if (modifiers & ModAlt)
        m |= XCB_MOD_MASK_1;
    if (modifiers & ModControl)
        m |= XCB_MOD_MASK_CONTROL;
    if (modifiers & ModShift)
        m |= XCB_MOD_MASK_SHIFT;
    if (modifiers & ModWin)
        m |= XCB_MOD_MASK_4;
    return m;
}

HotKeyResult XcbHotKeys::registerHotKey(uintptr_t window, int id, unsigned modifiers,
                                        unsigned virtualKey, Handler onPressed)
{
    xcb_connection_t* c = connection();
    if (!c) {
        qCWarning(lcPlatform) << "hot key: no X11 connection, global keys are not available";
        return HotKeyResult::Failed;
    }
    const xcb_window_t root = rootWindow(c);
    Grab g;
    g.keycode = keycodeFor(c, virtualKey);
    g.mods = xModifiers(modifiers);
    g.handler = std::move(onPressed);
    if (!root || !g.keycode) {
        qCWarning(lcPlatform) << "hot key: no key code for virtual key" << Qt::hex << virtualKey;
        return HotKeyResult::Failed;
    }
    bool conflict = false;
    bool failed = false;
    for (uint16_t lock : kLockMasks) {
        xcb_void_cookie_t ck = xcb_grab_key_checked(c, 1, root, g.mods | lock, g.keycode,
                                                    XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* err = xcb_request_check(c, ck)) {
            (err->error_code == kBadAccess ? conflict : failed) = true;
            std::free(err);
        }
    }
    if (conflict || failed) {
        // Leave nothing half-grabbed: a later retry starts from a clean state.
        ungrab(g);
        return conflict ? HotKeyResult::Conflict : HotKeyResult::Failed;
    }
    if (!m_filter) {
        m_filter = std::make_unique<Filter>(this);
        QCoreApplication::instance()->installNativeEventFilter(m_filter.get());
    }
    m_grabs[{window, id}] = std::move(g);
    return HotKeyResult::Registered;
}

void XcbHotKeys::unregisterHotKey(uintptr_t window, int id)
{
    auto it = m_grabs.find({window, id});
    if (it == m_grabs.end())
        return;
    if (connection())
        ungrab(it->second);
    m_grabs.erase(it);
}

void XcbHotKeys::ungrab(const Grab& g)
{
    xcb_connection_t* c = connection();
    const xcb_window_t root = rootWindow(c);
    for (uint16_t lock : kLockMasks)
        xcb_ungrab_key(c, g.keycode, root, g.mods | lock);
    xcb_flush(c);
}

bool XcbHotKeys::dispatch(uint8_t keycode, uint16_t state)
{
    const uint16_t relevant = state & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
    for (const auto& [key, grab] : m_grabs) {
        if (grab.keycode == keycode && grab.mods == relevant) {
            // A copy: the handler may unregister its own key.
            const Handler handler = grab.handler;
            const int id = key.second;
            if (handler)
                handler(id);
            return true;
        }
    }
    return false;
}

} // namespace vb::platform::linux_

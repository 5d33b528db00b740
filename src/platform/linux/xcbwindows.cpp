// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/xcbwindows.h"

#include <xcb/res.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vb::platform::linux_ {

namespace {
// ICCCM WM_STATE values.
constexpr uint32_t kWithdrawnState = 0;
constexpr uint32_t kNormalState = 1;
constexpr uint32_t kIconicState = 3;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> own(T* p)
{
    return Reply<T>(p, &std::free);
}

const char* const kAtomNames[] = {
    "_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST", "_NET_WM_PID", "WM_STATE",
    "_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_ACTIVE_WINDOW",
    // Window types that never stand for an application window of their own.
    "_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND"};
constexpr size_t kAtomCount = sizeof(kAtomNames) / sizeof(kAtomNames[0]);
constexpr size_t kFirstToolType = 8;
} // namespace

struct XcbWindows::Atoms
{
    xcb_atom_t a[kAtomCount] = {};
    xcb_atom_t wmCheck() const { return a[0]; }
    xcb_atom_t clientList() const { return a[1]; }
    xcb_atom_t wmPid() const { return a[2]; }
    xcb_atom_t wmState() const { return a[3]; }
    xcb_atom_t windowType() const { return a[4]; }
    xcb_atom_t netWmState() const { return a[5]; }
    xcb_atom_t skipTaskbar() const { return a[6]; }
    xcb_atom_t activeWindow() const { return a[7]; }
    bool isToolType(xcb_atom_t t) const
    {
        for (size_t i = kFirstToolType; i < kAtomCount; ++i)
            if (a[i] != XCB_ATOM_NONE && a[i] == t)
                return true;
        return false;
    }
};

XcbWindows::XcbWindows(std::string display) : m_display(std::move(display)) {}

XcbWindows::~XcbWindows()
{
    if (m_conn)
        xcb_disconnect(m_conn);
    delete m_atoms;
}

bool XcbWindows::ensureConnected()
{
    if (m_conn && !xcb_connection_has_error(m_conn))
        return true;
    if (m_conn) { // the server went away; try a fresh connection once per call
        xcb_disconnect(m_conn);
        m_conn = nullptr;
    }
    if (m_display.empty() && !std::getenv("DISPLAY"))
        return false;
    int screenNo = 0;
    xcb_connection_t* c = xcb_connect(m_display.empty() ? nullptr : m_display.c_str(), &screenNo);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNo && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return false;
    }
    m_conn = c;
    m_root = it.data->root;
    delete m_atoms;
    m_atoms = new Atoms;
    xcb_intern_atom_cookie_t cookies[kAtomCount];
    for (size_t i = 0; i < kAtomCount; ++i)
        cookies[i] =
            xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(kAtomNames[i])), kAtomNames[i]);
    for (size_t i = 0; i < kAtomCount; ++i)
        if (auto r = own(xcb_intern_atom_reply(c, cookies[i], nullptr)))
            m_atoms->a[i] = r->atom;
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
    m_hasRes = res && res->present;
    return true;
}

// The window manager's check window, when one runs: the root names it and it names itself
// (a stale root property left by a dead manager may point at a reused id).
uint32_t XcbWindows::managerWindow()
{
    auto checkOf = [this](uint32_t w) -> uint32_t {
        auto r = own(xcb_get_property_reply(
            m_conn, xcb_get_property(m_conn, 0, w, m_atoms->wmCheck(), XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        if (!r || r->type != XCB_ATOM_WINDOW || r->format != 32 ||
            xcb_get_property_value_length(r.get()) < 4)
            return 0;
        return *static_cast<uint32_t*>(xcb_get_property_value(r.get()));
    };
    const uint32_t w = checkOf(m_root);
    if (w == 0 || checkOf(w) != w)
        return 0;
    return w;
}

ProcessId XcbWindows::pidOf(uint32_t window, bool allowNetWmPid)
{
    if (m_hasRes) {
        xcb_res_client_id_spec_t spec{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        auto r = own(xcb_res_query_client_ids_reply(
            m_conn, xcb_res_query_client_ids(m_conn, 1, &spec), nullptr));
        if (r) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(r.get()); it.rem;
                 xcb_res_client_id_value_next(&it))
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) >= 1)
                    return *xcb_res_client_id_value_value(it.data);
        }
    }
    if (!allowNetWmPid)
        return 0;
    auto r = own(xcb_get_property_reply(
        m_conn, xcb_get_property(m_conn, 0, window, m_atoms->wmPid(), XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4)
        return *static_cast<uint32_t*>(xcb_get_property_value(r.get()));
    return 0;
}

bool XcbWindows::topLevelWindows(std::vector<TopLevelWindow>& out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureConnected())
        return false;
    xcb_connection_t* c = m_conn;
    const Atoms& at = *m_atoms;

    // With a manager, its client list names the application windows (they are reparented
    // into frames); without one the applications' windows are the root's children.
    std::vector<uint32_t> ids;
    bool managed = false;
    if (managerWindow() != 0) {
        auto r = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, m_root, at.clientList(), XCB_ATOM_WINDOW, 0, 1u << 16),
            nullptr));
        if (r && r->type == XCB_ATOM_WINDOW && r->format == 32) {
            const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
            ids.assign(v, v + xcb_get_property_value_length(r.get()) / 4);
            managed = true;
        }
    }
    if (!managed) {
        auto r = own(xcb_query_tree_reply(c, xcb_query_tree(c, m_root), nullptr));
        if (!r)
            return false;
        const xcb_window_t* v = xcb_query_tree_children(r.get());
        ids.assign(v, v + xcb_query_tree_children_length(r.get()));
    }

    // Send every request first and read the replies afterwards: one round trip in all.
    struct Pending
    {
        xcb_get_window_attributes_cookie_t attrs;
        xcb_get_property_cookie_t wmState, transient, type, state, pid;
        xcb_res_query_client_ids_cookie_t res;
    };
    std::vector<Pending> pend(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        const uint32_t w = ids[i];
        Pending& p = pend[i];
        p.attrs = xcb_get_window_attributes(c, w);
        p.wmState = xcb_get_property(c, 0, w, at.wmState(), at.wmState(), 0, 2);
        p.transient = xcb_get_property(c, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
        p.type = xcb_get_property(c, 0, w, at.windowType(), XCB_ATOM_ATOM, 0, 32);
        p.state = xcb_get_property(c, 0, w, at.netWmState(), XCB_ATOM_ATOM, 0, 64);
        p.pid = xcb_get_property(c, 0, w, at.wmPid(), XCB_ATOM_CARDINAL, 0, 1);
        if (m_hasRes) {
            xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            p.res = xcb_res_query_client_ids(c, 1, &spec);
        }
    }
    bool ok = true;
    for (size_t i = 0; i < ids.size(); ++i) {
        Pending& p = pend[i];
        TopLevelWindow tw;
        tw.id = ids[i];
        auto attrs = own(xcb_get_window_attributes_reply(c, p.attrs, nullptr));
        auto wmState = own(xcb_get_property_reply(c, p.wmState, nullptr));
        auto transient = own(xcb_get_property_reply(c, p.transient, nullptr));
        auto type = own(xcb_get_property_reply(c, p.type, nullptr));
        auto state = own(xcb_get_property_reply(c, p.state, nullptr));
        auto pid = own(xcb_get_property_reply(c, p.pid, nullptr));
        Reply<xcb_res_query_client_ids_reply_t> res(nullptr, &std::free);
        if (m_hasRes)
            res = own(xcb_res_query_client_ids_reply(c, p.res, nullptr));
        if (!attrs)
            continue; // destroyed while we looked: it is no window any more
        if (xcb_connection_has_error(c)) {
            ok = false;
            break;
        }

        const bool viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
        if (managed) {
            // Minimised windows are unmapped but still the user's windows (as on Windows,
            // where an iconic window stays visible); withdrawn ones are gone.
            if (wmState && wmState->format == 32 &&
                xcb_get_property_value_length(wmState.get()) >= 4) {
                const uint32_t s = *static_cast<uint32_t*>(xcb_get_property_value(wmState.get()));
                tw.visible = s == kNormalState || s == kIconicState;
                (void)kWithdrawnState;
            } else {
                tw.visible = viewable;
            }
        } else {
            tw.visible = viewable;
        }
        tw.owned =
            transient && transient->format == 32 &&
            xcb_get_property_value_length(transient.get()) >= 4 &&
            *static_cast<uint32_t*>(xcb_get_property_value(transient.get())) != XCB_WINDOW_NONE;
        // Override-redirect windows (menus, tooltips, our own ball without a manager) escape
        // the manager entirely: like tool windows they stand for no application.
        tw.tool = attrs->override_redirect != 0;
        if (type && type->format == 32) {
            const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(type.get()));
            const int n = xcb_get_property_value_length(type.get()) / 4;
            // The first type the window names is the one it means; later ones are fallbacks.
            if (n > 0 && at.isToolType(v[0]))
                tw.tool = true;
        }
        if (state && state->format == 32) {
            const auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(state.get()));
            const int n = xcb_get_property_value_length(state.get()) / 4;
            for (int k = 0; k < n; ++k)
                if (v[k] == at.skipTaskbar())
                    tw.tool = true;
        }
        // The X server knows which local client made the window; _NET_WM_PID is only what the
        // client claims, so it is the fallback.
        if (res) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(res.get()); it.rem;
                 xcb_res_client_id_value_next(&it))
                if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) >= 1)
                    tw.pid = *xcb_res_client_id_value_value(it.data);
        }
        if (tw.pid == 0 && pid && pid->format == 32 &&
            xcb_get_property_value_length(pid.get()) >= 4)
            tw.pid = *static_cast<uint32_t*>(xcb_get_property_value(pid.get()));
        out.push_back(tw);
    }
    return ok;
}

ProcessId XcbWindows::shellProcessId()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureConnected())
        return 0;
    const uint32_t w = managerWindow();
    if (w == 0)
        return 0;
    return pidOf(w, true);
}

void XcbWindows::activateWindow(uintptr_t window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ensureConnected())
        return;
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = static_cast<xcb_window_t>(window);
    ev.type = m_atoms->activeWindow();
    ev.data.data32[0] = 2; // from a pager: honoured without focus-stealing checks
    ev.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_conn, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(m_conn);
}

} // namespace vb::platform::linux_

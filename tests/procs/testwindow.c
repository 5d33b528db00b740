// SPDX-License-Identifier: GPL-3.0-or-later
// A test X client: "testwindow KIND" shows one kind of top-level window, prints "ready" once
// the server (or the window manager) has mapped it, and then waits to be killed.
// KIND: normal, two, nopid, liarpid, unmapped, owned, tool, skiptaskbar, override, iconic.
#include <xcb/xcb.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    free(r);
    return a;
}

static void setCardinal(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                        uint32_t value)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, prop, type, 32, 1, &value);
}

static xcb_window_t makeWindow(xcb_connection_t* c, xcb_screen_t* s, const char* kind,
                               int overrideRedirect)
{
    xcb_window_t w = xcb_generate_id(c);
    uint32_t values[3] = {s->white_pixel, (uint32_t)overrideRedirect,
                          XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, s->root, 20, 20, 160, 90, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        (uint32_t)strlen(kind), kind);
    return w;
}

// Waits (at most 5 s) until count windows have been mapped.
static int waitMapped(xcb_connection_t* c, int count)
{
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (count > 0) {
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (e) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY)
                --count;
            free(e);
            continue;
        }
        if (xcb_connection_has_error(c))
            return 0;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 5)
            return 0;
        usleep(5000);
    }
    return 1;
}

int main(int argc, char** argv)
{
    const char* kind = argc > 1 ? argv[1] : "normal";
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "no display\n");
        return 2;
    }
    xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t wmPid = atom(c, "_NET_WM_PID");
    const int override = strcmp(kind, "override") == 0;
    xcb_window_t w = makeWindow(c, s, kind, override);
    if (strcmp(kind, "nopid") != 0)
        setCardinal(c, w, wmPid, XCB_ATOM_CARDINAL,
                    strcmp(kind, "liarpid") == 0 ? 1u : (uint32_t)getpid());
    int mapped = 1;
    if (strcmp(kind, "owned") == 0) {
        xcb_window_t leader = makeWindow(c, s, "leader", 0);
        setCardinal(c, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, leader);
    } else if (strcmp(kind, "tool") == 0) {
        setCardinal(c, w, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                    atom(c, "_NET_WM_WINDOW_TYPE_UTILITY"));
    } else if (strcmp(kind, "skiptaskbar") == 0) {
        setCardinal(c, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                    atom(c, "_NET_WM_STATE_SKIP_TASKBAR"));
    } else if (strcmp(kind, "two") == 0) {
        xcb_window_t second = makeWindow(c, s, "two-b", 0);
        setCardinal(c, second, wmPid, XCB_ATOM_CARDINAL, (uint32_t)getpid());
        xcb_map_window(c, second);
        ++mapped;
    }
    if (strcmp(kind, "unmapped") == 0)
        mapped = 0;
    else
        xcb_map_window(c, w);
    xcb_flush(c);
    if (!waitMapped(c, mapped)) {
        fprintf(stderr, "not mapped\n");
        return 3;
    }
    if (strcmp(kind, "iconic") == 0) {
        // ICCCM: ask the window manager to iconify (WM_CHANGE_STATE, IconicState).
        xcb_client_message_event_t ev;
        memset(&ev, 0, sizeof(ev));
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = w;
        ev.type = atom(c, "WM_CHANGE_STATE");
        ev.data.data32[0] = 3;
        xcb_send_event(c, 0, s->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       (const char*)&ev);
        xcb_flush(c);
        // Ready once the manager has unmapped it.
        struct timespec start, now;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            xcb_generic_event_t* e = xcb_poll_for_event(c);
            if (e) {
                const int unmapped = (e->response_type & 0x7f) == XCB_UNMAP_NOTIFY;
                free(e);
                if (unmapped)
                    break;
                continue;
            }
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (now.tv_sec - start.tv_sec > 5) {
                fprintf(stderr, "not iconified\n");
                return 4;
            }
            usleep(5000);
        }
    }
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL)); // a round trip
    printf("ready\n");
    fflush(stdout);
    for (;;) { // until killed, or until the server goes
        xcb_generic_event_t* e = xcb_wait_for_event(c);
        if (!e)
            break;
        free(e);
    }
    xcb_disconnect(c);
    return 0;
}

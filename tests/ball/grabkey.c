// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: takes Ctrl+Alt+C on the root window before the ball does, then waits.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <xcb/xcb.h>

int main(void)
{
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c))
        return 2;
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, setup->min_keycode,
                                 setup->max_keycode - setup->min_keycode + 1),
        NULL);
    if (!map)
        return 2;
    xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    int n = setup->max_keycode - setup->min_keycode + 1, per = map->keysyms_per_keycode;
    xcb_keycode_t code = 0;
    for (int i = 0; i < n && !code; ++i)
        if (syms[i * per] == 'c')
            code = setup->min_keycode + i;
    free(map);
    xcb_void_cookie_t ck = xcb_grab_key_checked(c, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1,
                                                code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_request_check(c, ck))
        return 3;
    printf("grabbed\n");
    fflush(stdout);
    for (int i = 0; i < 600; ++i) // bounded: at most a minute
        sleep(1);
    return 0;
}

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The ball's secondary windows (skin chooser, Boost Panel, context menu) on a real X server
# with real pointer input: first with no window manager, then under openbox.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
TEST_BIN="$1"
export QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software QT_LOGGING_RULES='qt.qpa.*=false'
export VB_ARTEFACTS

vb_start_x 1280x800
check "no window manager" env -u VB_TEST_WM "$TEST_BIN"
vb_start_wm
check "under openbox" env VB_TEST_WM=openbox "$TEST_BIN"
vb_finish

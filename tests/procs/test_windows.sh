#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window walk on a private Xvfb display: first without a window manager, then with openbox.
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"

vb_start_x 1024x768
check "walk without a window manager" env VB_EXPECT_WM=0 "$VB_BIN_DIR/tst_xcbwindows"
vb_start_wm
wm_pid="${VB_PIDS[-1]}"
# Leave a picture of the test clients under the manager.
"$VB_BIN_DIR/vb_testwindow" two >"$VB_TMP/shot-client.log" 2>&1 &
shot_pid=$!
VB_PIDS+=($shot_pid)
vb_wait_log "$VB_TMP/shot-client.log" ready 10 || true
vb_shot procs-windows-openbox
kill "$shot_pid"; wait "$shot_pid" 2>/dev/null || true # its windows must not count below
check "walk with openbox" env VB_EXPECT_WM=1 VB_WM_PID="$wm_pid" "$VB_BIN_DIR/tst_xcbwindows"
vb_finish

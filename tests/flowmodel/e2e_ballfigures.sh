#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The ball's RAM and CPU lines on a real X server while the test loads the machine.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
vb_start_x 1280x800
vb_start_wm
export VB_ARTEFACTS
check "the ball's figures follow memory and CPU load" \
  "$VB_BIN_DIR/tst_ballfigures" -o "$VB_TMP/figures.txt,txt" -o -,txt
grep -E '^(PASS|FAIL|QINFO|   )' "$VB_TMP/figures.txt" | head -40
vb_finish

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The demo host's boost list, used through the exported class as a host would: it fills with
# the windowed programs, a click ticks one, PC BOOST closes exactly that one and the list
# fills again without it.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
HOST="$VB_BIN_DIR/verdant-ball-host"
INI="$XDG_CONFIG_HOME/VerdantSuite/VerdantBall.ini"
LOG="$VB_TMP/host.log"
last_list() { grep 'boost list:' "$LOG" | tail -1 | sed 's/.*boost list: *//'; }
list_becomes() { # list_becomes NAMES: waits until the last listing is NAMES
  local i
  for i in $(seq 1 100); do [ "$(last_list)" = "$1" ] && return 0; sleep 0.1; done
  echo "the list shows: $(last_list)"; return 1
}

vb_start_x 1280x800
vb_bg "$VB_TMP/w1.log" "$VB_BIN_DIR/vb_testwindow" normal; W1=$VB_LAST_PID
vb_bg "$VB_TMP/w2.log" "$VB_BIN_DIR/vb_testwindow" normal; W2=$VB_LAST_PID
vb_wait_log "$VB_TMP/w1.log" ready 10 && vb_wait_log "$VB_TMP/w2.log" ready 10 ||
  { echo "the test windows did not come up"; exit 1; }

# A hidden ball makes the host open its main window, and with it the list, at start.
mkdir -p "$(dirname "$INI")"
printf 'BallViewerHide=true\n' >"$INI"
vb_bg "$LOG" "$HOST"; HOST_PID=$VB_LAST_PID
MAIN=$(vb_window_of "$HOST_PID" 780 240 || true)
check "main window shown" [ -n "$MAIN" ]
check "the list shows both programs, unticked options" \
  list_becomes 'Optional, vb_testwindow, vb_testwindow'
vb_shot host-boost-list "$MAIN"

read -r wx wy < <(vb_geometry "$MAIN")
xdotool mousemove $((wx + 520)) $((wy + 44 + 30 + 15)) click 1 # the first program's row
sleep 0.3
xdotool mousemove $((wx + 708)) $((wy + 21)) click 1 # PC BOOST
check "the fix closed one entry" vb_wait_log "$LOG" 'boost closed 1,' 15
check "the list filled again with the other program only" list_becomes 'Optional, vb_testwindow'
alive=0
for p in "$W1" "$W2"; do kill -0 "$p" 2>/dev/null && alive=$((alive + 1)); done
check "exactly one program ended" [ "$alive" -eq 1 ]
vb_shot host-boost-list-after-fix "$MAIN"
kill -TERM "$HOST_PID"; wait "$HOST_PID"
check "host quits cleanly" [ $? -eq 0 ]
vb_finish

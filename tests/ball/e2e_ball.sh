#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The demo host and the ball on a real X server: start-up failures, window hints, dragging and
# position memory, the hot key (also when another client holds it), hiding through the menu,
# corrupt settings, with and without a window manager.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
HOST="$VB_BIN_DIR/verdant-ball-host"
INI="$XDG_CONFIG_HOME/VerdantSuite/VerdantBall.ini"

# --- start-up failures, before any display exists ---
out=$(env -u DISPLAY QT_QPA_PLATFORM= "$HOST" 2>&1); rc=$?
check "no display: exit code 2" [ "$rc" -eq 2 ]
check "no display: one clear line" [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ]
check "no display: says why" grep -q 'no display' <<<"$out"
out=$(DISPLAY=:4242 "$HOST" 2>&1); rc=$?
check "unreachable display: exit 2 and names it" bash -c "[ $rc -eq 2 ] && grep -q 'cannot open display :4242' <<<'$out'"

vb_start_x 1280x800
out=$("$HOST" --library /nonexistent/libnothing.so 2>&1); rc=$?
check "missing library: exit 3" [ "$rc" -eq 3 ]
check "missing library: names the file" grep -q '/nonexistent/libnothing.so' <<<"$out"
out=$("$HOST" --library "$VB_BIN_DIR/libvdshelper.so" 2>&1); rc=$?
check "foreign library: exit 3 and says so" bash -c "[ $rc -eq 3 ] && grep -q 'not a ball library' <<<'$out'"

start_host() { # start_host LOG: starts the host, waits for the ball, sets HOST_PID and BALL
  vb_bg "$1" "$HOST"
  HOST_PID=$VB_LAST_PID
  vb_wait_log "$1" 'ball shown' 15 || { echo "host did not show the ball:"; cat "$1"; return 1; }
  BALL=$(vb_window_of "$HOST_PID" 120 48)
}
stop_host() {
  kill -TERM "$HOST_PID"
  local i; for i in $(seq 1 50); do kill -0 "$HOST_PID" 2>/dev/null || break; sleep 0.1; done
  wait "$HOST_PID"; HOST_RC=$?
}

# --- first start: default corner, frameless, on top ---
start_host "$VB_TMP/host1.log"
check "ball window found" [ -n "$BALL" ]
check "default corner: 10 px from the right, 30 px from the bottom" [ "$(vb_geometry "$BALL")" = "1150 722" ]
props=$(xprop -id "$BALL")
check "stays on top" grep -q '_NET_WM_STATE_ABOVE' <<<"$props"
check "no decorations (Motif hints)" grep -q '_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x1, 0x0' <<<"$props"
check "tool window, kept out of task bars" grep -q '_NET_WM_WINDOW_TYPE_UTILITY' <<<"$props"
vb_shot ball-first-start

# --- drag: press on the ball, move in steps, release ---
xdotool mousemove 1200 740 mousedown 1
for i in $(seq 1 40); do xdotool mousemove $((1200 - i * 17)) $((740 - i * 11)); done
xdotool mouseup 1
sleep 0.5
check "dragged exactly with the pointer" [ "$(vb_geometry "$BALL")" = "$((1150 - 680)) $((722 - 440))" ]
check "position saved after the drag" grep -q "BallViewerX=470" "$INI"
check "y saved after the drag" grep -q "BallViewerY=282" "$INI"

# --- the hot key, with and without Num Lock ---
xdotool key ctrl+alt+c
check "hot key runs the capture" vb_wait_log "$VB_TMP/host1.log" 'hot key Ctrl+Alt+C pressed' 5
check "capture process started" vb_wait_log "$VB_TMP/host1.log" 'screen capture started' 10
sleep 1
vb_shot capture-overlay
xdotool key Escape
sleep 1
xdotool key Num_Lock
xdotool key ctrl+alt+c
check "hot key works with Num Lock on" bash -c "[ \$(grep -c 'hot key Ctrl+Alt+C pressed' '$VB_TMP/host1.log') -ge 2 ]"
sleep 1.5; xdotool key Escape; xdotool key Num_Lock; sleep 0.5

stop_host
check "quits cleanly on SIGTERM" [ "$HOST_RC" -eq 0 ]

# --- second start: back where it was dropped ---
start_host "$VB_TMP/host2.log"
check "comes back where it was dropped" [ "$(vb_geometry "$BALL")" = "470 282" ]

# --- hide through the context menu ---
xdotool mousemove 520 300 click 3
sleep 0.8
MENU=$(vb_window_of "$HOST_PID" 210 141 || true)
check "right click opens the menu" [ -n "$MENU" ]
vb_shot context-menu
if [ -n "$MENU" ]; then
  read -r mx my < <(vb_geometry "$MENU")
  xdotool mousemove $((mx + 60)) $((my + 4 + 27 + 27 + 26 + 13)) click 1
  sleep 0.8
fi
check "Hide hides the ball" bash -c "! xwininfo -id $BALL | grep -q IsViewable"
check "hidden flag saved" grep -q 'BallViewerHide=true' "$INI"
check "host shows its main window" quiet vb_window_of "$HOST_PID" 780 240
stop_host

# --- the host respects the hidden flag, and its button brings the ball back ---
vb_bg "$VB_TMP/host3.log" "$HOST"; HOST_PID=$VB_LAST_PID
MAIN=$(vb_window_of "$HOST_PID" 780 240 || true)
check "hidden ball: main window at start instead" [ -n "$MAIN" ]
if [ -n "$MAIN" ]; then
  read -r wx wy < <(vb_geometry "$MAIN")
  xdotool mousemove $((wx + 20 + 75)) $((wy + 170 + 17)) click 1
fi
BALL=$(vb_window_of "$HOST_PID" 120 48 || true)
check "Show the ball brings it back" [ -n "$BALL" ]
check "and clears the hidden flag" grep -q 'BallViewerHide=false' "$INI"
stop_host

# --- corrupt settings: defaults, no crash ---
printf 'BallViewerX=left\nBallViewerY=100\n' > "$INI"
start_host "$VB_TMP/host4.log"
check "non-numeric x: default x, saved y" [ "$(vb_geometry "$BALL")" = "1150 100" ]
stop_host
head -c 4096 /dev/urandom > "$INI"
start_host "$VB_TMP/host5.log"
check "garbage settings file: default corner" [ "$(vb_geometry "$BALL")" = "1150 722" ]
stop_host
check "garbage settings file: clean exit" [ "$HOST_RC" -eq 0 ]
rm -f "$INI"; mkdir -p "$INI"
start_host "$VB_TMP/host6.log"
check "unreadable settings: default corner" [ "$(vb_geometry "$BALL")" = "1150 722" ]
stop_host
rmdir "$INI"

# --- the hot key held by another client ---
vb_bg "$VB_TMP/grab.log" "$VB_BIN_DIR/vb_grabkey"
GRAB_PID=$VB_LAST_PID
vb_wait_log "$VB_TMP/grab.log" grabbed 5
start_host "$VB_TMP/host7.log"
check "conflict reported in one debug line" grep -q 'taken by another program' "$VB_TMP/host7.log"
xdotool key ctrl+alt+c; sleep 0.5
check "the ball keeps running" kill -0 "$HOST_PID"
check "the other client keeps the key" bash -c "! grep -q 'hot key Ctrl+Alt+C pressed' '$VB_TMP/host7.log'"
stop_host
kill "$GRAB_PID"; wait "$GRAB_PID" 2>/dev/null

# --- under a window manager ---
vb_start_wm
start_host "$VB_TMP/host8.log"
check "managed: listed by the window manager" bash -c "xprop -root _NET_CLIENT_LIST | grep -q \$(printf '0x%x' $BALL)"
check "managed: still on top" bash -c "xprop -id $BALL _NET_WM_STATE | grep -q ABOVE"
read -r bx by < <(vb_geometry "$BALL")
xdotool mousemove $((bx + 60)) $((by + 24)) mousedown 1
for i in $(seq 1 20); do xdotool mousemove $((bx + 60 - i * 10)) $((by + 24 - i * 5)); done
xdotool mouseup 1; sleep 0.5
check "managed: drag follows the pointer" [ "$(vb_geometry "$BALL")" = "$((bx - 200)) $((by - 100))" ]
xdotool key ctrl+alt+c
check "managed: hot key delivered" vb_wait_log "$VB_TMP/host8.log" 'hot key Ctrl+Alt+C pressed' 5
sleep 1.5; xdotool key Escape; sleep 0.5
vb_shot ball-under-openbox
stop_host
vb_finish

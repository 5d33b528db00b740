#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole release under X: double-click the ball of the demo host, see the release start
# (the ball dims and ignores the mouse), the note appear above the ball with the amount, the
# holding process lose its pages, and the note fade away; a second release reuses the note.
# Runs in a PID namespace of its own, so the release reaches only the processes started here.
set -euo pipefail
if [ "${VB_E2E_CONFINED:-}" != 1 ]; then
  [ "$(id -u)" = 0 ] || { echo "needs root (a PID namespace, and paging out other processes)"; exit 1; }
  VB_E2E_CONFINED=1 exec unshare --pid --fork --mount-proc bash "$0" "$@"
fi
: "${VB_BIN_DIR:?}" "${VB_SOURCE_DIR:?}" "${VB_MEMHOLD:?}"
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"

pixel() { # pixel PNG X Y: "r,g,b" of one pixel (numbers even where ImageMagick would name it)
  convert "$1" -crop "1x1+$2+$3" -depth 8 -format '%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]' info:
}

# near "r,g,b" "r,g,b": every channel within 8 (smoothing may leave a face a step off its idle
# value, where the dimmed face is a hundred away).
near() {
  local a b i
  IFS=, read -ra a <<<"$1"
  IFS=, read -ra b <<<"$2"
  for i in 0 1 2; do
    [ $((a[i] - b[i])) -le 8 ] && [ $((b[i] - a[i])) -le 8 ] || return 1
  done
}

mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }
wait_unmapped() { local i; for i in $(seq 1 100); do mapped "$1" || return 0; sleep 0.1; done; return 1; }
kb() { awk -v k="$2:" '$1==k{print $2}' "/proc/$1/status"; }

vb_start_x 1280x800
vb_start_wm
vb_bg "$VB_TMP/hold.log" "$VB_MEMHOLD" "$VB_TMP/hold.dat" 160 0 300
hold=$VB_LAST_PID
check "a process holds 160 MB of a file" vb_wait_log "$VB_TMP/hold.log" ready 30
rss0=$(kb "$hold" RssFile)

vb_bg "$VB_TMP/host.log" "$VB_BIN_DIR/verdant-ball-host"
host=$VB_LAST_PID
check "the ball is shown" vb_wait_log "$VB_TMP/host.log" "ball shown" 20
ball=$(vb_window_of "$host" 120 48)
read -r bx by < <(vb_geometry "$ball")
echo "ball $ball at $bx,$by"
sleep 0.5
vb_shot release-0-idle >/dev/null
idle=$(pixel "$VB_ARTEFACTS/release-0-idle.png" $((bx + 20)) $((by + 24)))

# The double click; the first click's delayed popup is withdrawn by the second.
xdotool mousemove --sync $((bx + 60)) $((by + 24))
xdotool click --repeat 2 --delay 80 1
check "the release starts" vb_wait_log "$VB_TMP/host.log" "memory release started" 5
sleep 0.4
vb_shot release-1-running >/dev/null
running=$(pixel "$VB_ARTEFACTS/release-1-running.png" $((bx + 20)) $((by + 24)))
echo "ball pixel idle $idle, releasing $running"
check "the ball shows the release (its face dims)" test "$idle" != "$running"

# A drag while the release runs leaves the ball where it is.
xdotool mousedown 1
xdotool mousemove --sync $((bx + 20)) $((by - 100))
xdotool mousemove --sync $((bx - 100)) $((by - 200))
xdotool mouseup 1
sleep 0.3
read -r dx dy < <(vb_geometry "$ball")
check "the ball cannot be dragged while it releases" test "$dx,$dy" = "$bx,$by"
xdotool mousemove --sync $((bx + 60)) $((by + 24))

check "the release ends" vb_wait_log "$VB_TMP/host.log" "memory release freed" 15
grep "memory release freed" "$VB_TMP/host.log" | tail -1
check "the note tells the amount" grep -Eq 'freed [0-9]+ bytes: Released [0-9]+\.[0-9]{2} (MB|GB) memory for computer\.' "$VB_TMP/host.log"
note=$(vb_window_of "$host" 160 50)
read -r nx ny < <(vb_geometry "$note")
echo "note $note at $nx,$ny"
vb_shot release-2-note >/dev/null
vb_shot release-2-note-window "$note" >/dev/null
# The ball sits 10 px from the right edge, so the note is kept on the screen there.
check "the note's bottom edge is just above the ball" test $((ny + 50)) -eq "$by"
check "the note is kept inside the screen at its right edge" test "$nx" -eq $((1280 - 160))
notebg=$(pixel "$VB_ARTEFACTS/release-2-note.png" $((nx + 3)) $((ny + 3)))
check "the note is the note's blue" test "$notebg" = "11,98,184"
rss1=$(kb "$hold" RssFile)
echo "holding process RssFile $rss0 -> $rss1 kB"
check "the holding process lost its file pages" test "$rss1" -lt $((rss0 / 4))
read -r ax ay < <(vb_geometry "$ball")
# The face is redrawn on the frame after the release ends, which a busy machine may not have
# drawn yet when the note is up: look again for a while rather than once.
ball_back() {
  local i
  for i in $(seq 1 30); do
    vb_shot release-3-after >/dev/null
    near "$(pixel "$VB_ARTEFACTS/release-3-after.png" $((ax + 20)) $((ay + 24)))" "$idle" && return 0
    sleep 0.1
  done
  return 1
}
check "the ball is back (not dimmed) after the release" ball_back

check "the note fades and hides itself" wait_unmapped "$note"
vb_shot release-4-faded >/dev/null

# A second release shows the same note window again.
kill -USR1 "$hold"
xdotool click --repeat 2 --delay 80 1
count() { grep -c "$1" "$VB_TMP/host.log" || true; }
for i in $(seq 1 50); do [ "$(count 'memory release started')" -ge 2 ] && break; sleep 0.1; done
check "a second release starts" test "$(count 'memory release started')" -eq 2
for i in $(seq 1 100); do [ "$(count 'memory release freed')" -ge 2 ] && break; sleep 0.1; done
check "the second release ends" test "$(count 'memory release freed')" -eq 2
sleep 0.3
check "the note window is reused" mapped "$note"
check "one note window only" test "$(vb_window_of "$host" 160 50)" = "$note"
check "and it fades again" wait_unmapped "$note"
check "the host is still running" kill -0 "$host"
kill "$host"

# In German the note says the same.
kill -USR1 "$hold"
vb_bg "$VB_TMP/host-de.log" "$VB_BIN_DIR/verdant-ball-host" --lang de
host=$VB_LAST_PID
check "the ball is shown again" vb_wait_log "$VB_TMP/host-de.log" "ball shown" 20
ball=$(vb_window_of "$host" 120 48)
read -r bx by < <(vb_geometry "$ball")
xdotool mousemove --sync 10 10 # --sync waits for a motion, so never to where the pointer is
xdotool mousemove --sync $((bx + 60)) $((by + 24))
xdotool click --repeat 2 --delay 80 1
check "the German release ends" vb_wait_log "$VB_TMP/host-de.log" "memory release freed" 15
check "with the German note" grep -Eq 'freed [0-9]+ bytes: [0-9]+\.[0-9]{2} (MB|GB) Arbeitsspeicher für den Computer freigegeben\.' "$VB_TMP/host-de.log"
note=$(vb_window_of "$host" 160 50)
vb_shot release-5-note-de "$note" >/dev/null
vb_finish

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a user or a downloaded skin may put in the ball's folders, and screens that change under
# it: a skin that loops in its start-up script, skins sized huge or empty, a background the
# image reader refuses, FIFOs where files belong, a read-only settings folder, an output that
# goes away, signals while the GUI thread is stuck, and a Wayland session without X.
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
HOST="$VB_BIN_DIR/verdant-ball-host"
INI="$XDG_CONFIG_HOME/VerdantSuite/VerdantBall.ini"
SKINS="$HOME/.local/share/verdant-ball/BallSkins"
DEFAULT_FACE="qrc:/Ball/Skins/BallSkinDef.qml"
export QT_LOGGING_RULES="vb.*.warning=true"

# --- no X display in a Wayland session, or no display at all: one line, exit code 2 ---
for platform in "" wayland; do
  out=$(env -u DISPLAY WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=$platform timeout 20 "$HOST" 2>&1); rc=$?
  check "Wayland without DISPLAY (platform '$platform'): exit code 2" [ "$rc" -eq 2 ]
  check "Wayland without DISPLAY (platform '$platform'): one clear line" [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ]
  check "Wayland without DISPLAY (platform '$platform'): says what does not work" grep -q 'cannot stay on top' <<<"$out"
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= timeout 20 "$HOST" 2>&1); rc=$?
check "no display at all: exit code 2, one line" bash -c "[ $rc -eq 2 ] && [ $(printf '%s\n' "$out" | wc -l) -eq 1 ]"

vb_start_x 1280x800

# --- a Wayland session with XWayland: the ball runs on X, even when Wayland was asked for ---
for platform in "" wayland; do
  log="$VB_TMP/xwayland-$platform.log"
  vb_bg "$log" env WAYLAND_DISPLAY=wayland-vb-none QT_QPA_PLATFORM=$platform "$HOST"
  xw=$VB_LAST_PID
  check "XWayland (platform '$platform'): the ball is shown" vb_wait_log "$log" "ball shown" 20
  check "XWayland (platform '$platform'): says so in one line" \
    test "$(grep -c 'running through XWayland' "$log")" -eq 1
  check "XWayland (platform '$platform'): an X window of the host's" vb_window_of "$xw" 120 48
  kill "$xw"
  wait "$xw" 2>/dev/null || true
done

# make_skin NAME W H [EXTRA-QML]: a user skin folder whose main.qml sizes the ball W x H.
make_skin() {
  local d="$SKINS/$1"
  mkdir -p "$d"
  cp "$VB_SOURCE_DIR/src/qml/Ball/Skins/images/bg_120x48.png" "$d/icon.png"
  cp "$VB_SOURCE_DIR/src/qml/Ball/Skins/images/bg_120x48.png" "$d/bg.png"
  cat >"$d/main.qml" <<QML
import QtQuick
Item {
    Image { anchors.centerIn: parent; source: "bg.png" }
    Column {
        x: 10; y: 10
        Text { text: "RAM: " + FlowDataList.memoryUsage + "%" }
        Text { text: "CPU: " + FlowDataList.cpuUsage + "%" }
    }
    ${4:-}
    Component.onCompleted: {
        ball_main.width = $2
        ball_main.height = $3
        EP.qmlWindowResize($2, $3)
    }
}
QML
}
wear() { # wear NAME: the stored choice names that user skin
  mkdir -p "$(dirname "$INI")"
  printf '[General]\nBallSkin=%s\n' "$SKINS/$1/main.qml" >"$INI"
}
start_host() { # start_host LOG: starts the host and waits for the ball; sets HOST_PID
  vb_bg "$1" "$HOST"
  HOST_PID=$VB_LAST_PID
  vb_wait_log "$1" 'ball shown' 20
}
stop_host() {
  kill -TERM "$HOST_PID"
  local i; for i in $(seq 1 100); do kill -0 "$HOST_PID" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$HOST_PID" 2>/dev/null
}
wears_default() { vb_window_of "$HOST_PID" 120 48 >/dev/null; }
ball_size() { # the size of the host's viewable window that is not the main window
  local id
  for id in $(xdotool search --onlyvisible --pid "$HOST_PID" 2>/dev/null); do
    xwininfo -id "$id" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'
  done
}

# --- a skin that loops for ever in Component.onCompleted ---
make_skin Looping 130 50
sed -i 's|Component.onCompleted: {|Component.onCompleted: { console.log("skin loop starts"); for (;;) {}|' \
  "$SKINS/Looping/main.qml"
wear Looping
check "looping skin: the host starts and shows the ball" start_host "$VB_TMP/loop1.log"
check "looping skin: the ball wears the default face" wears_default
check "looping skin: the user is told" grep -q 'Looping/main.qml did not load within' "$VB_TMP/loop1.log"
check "looping skin: the default face is the stored choice" grep -q "BallSkin=$DEFAULT_FACE" "$INI"
check "looping skin: SIGTERM ends the host" stop_host
check "looping skin: a second start shows the ball" start_host "$VB_TMP/loop2.log"
check "looping skin: the second start does not load it again" \
  bash -c "! grep -q 'skin loop starts' '$VB_TMP/loop2.log'"
stop_host

# --- SIGTERM while the GUI thread is stuck in the skin ---
wear Looping
vb_bg "$VB_TMP/loop3.log" "$HOST"
HOST_PID=$VB_LAST_PID
vb_wait_log "$VB_TMP/loop3.log" 'skin loop starts' 20
check "stuck load: SIGTERM ends the host" stop_host

# --- sizes out of bounds, and a background the image reader refuses ---
make_skin Huge 5000 5000
wear Huge
start_host "$VB_TMP/huge.log"
check "5000 x 5000 skin: the ball stays 512 x 512" [ "$(ball_size)" = "512x512" ]
stop_host
make_skin Empty 0 0
wear Empty
start_host "$VB_TMP/empty.log"
check "0 x 0 skin: the ball stays 24 x 24" [ "$(ball_size)" = "24x24" ]
stop_host
make_skin Giant 200 100
python3 - "$SKINS/Giant/bg.png" <<'PY'
import struct, sys, zlib
w = h = 40000  # one bit a pixel on disk, far past the image reader's allocation limit decoded
def chunk(t, d):
    return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
c = zlib.compressobj(9)
row = b"\0" * (1 + w // 8)
data = b"".join(c.compress(row) for _ in range(h)) + c.flush()
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 1, 0, 0, 0, 0))
open(sys.argv[1], "wb").write(png + chunk(b"IDAT", data) + chunk(b"IEND", b""))
PY
wear Giant
start_host "$VB_TMP/giant.log"
check "undrawable background: the ball wears the default face" wears_default
stop_host

# --- FIFOs where files belong ---
make_skin Fifo 130 50
rm "$SKINS/Fifo/bg.png"; mkfifo "$SKINS/Fifo/bg.png"
wear Fifo
check "FIFO background: the host shows the ball" start_host "$VB_TMP/fifobg.log"
check "FIFO background: the ball wears the default face" wears_default
check "FIFO background: SIGTERM ends the host" stop_host
rm -f "$INI"; mkfifo "$INI"
check "FIFO settings file: the host shows the ball" start_host "$VB_TMP/fifoini.log"
check "FIFO settings file: the user is told" grep -q 'is not a regular file' "$VB_TMP/fifoini.log"
check "FIFO settings file: SIGTERM ends the host" stop_host
rm -f "$INI"

# --- a read-only settings folder, as an ordinary user: said once, and the ball keeps working ---
RO="$VB_TMP/ro"
mkdir -p "$RO/.config/VerdantSuite" "$RO/run"
printf '[General]\nBallViewerX=600\nBallViewerY=400\n' >"$RO/.config/VerdantSuite/VerdantBall.ini"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$RO"
  chmod 755 "$VB_TMP"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod 700 "$RO/run"
chmod 555 "$RO/.config/VerdantSuite"
vb_bg "$VB_TMP/ro.log" env HOME="$RO" XDG_CONFIG_HOME="$RO/.config" XDG_RUNTIME_DIR="$RO/run" \
  "${as_user[@]}" "$HOST"
HOST_PID=$VB_LAST_PID
vb_wait_log "$VB_TMP/ro.log" 'ball shown' 20
BALL=$(vb_window_of "$HOST_PID" 120 48)
check "read-only settings: the saved place is used" [ "$(vb_geometry "$BALL")" = "600 400" ]
drag() { # drag FROM-X FROM-Y DX DY
  xdotool mousemove "$1" "$2" mousedown 1
  local i; for i in $(seq 1 10); do xdotool mousemove $(($1 + i * $3 / 10)) $(($2 + i * $4 / 10)); done
  xdotool mouseup 1
}
drag 660 420 100 50
drag 760 470 100 50
moved() {
  local i; for i in $(seq 1 50); do [ "$(vb_geometry "$BALL")" = "800 500" ] && return 0; sleep 0.1; done
  return 1
}
check "read-only settings: the ball still follows drags" moved
check "read-only settings: said in the log, once" [ "$(grep -c 'cannot write' "$VB_TMP/ro.log")" -eq 1 ]
stop_host

# --- the screen under the ball shrinks: the ball is placed again, as at start ---
vb_start_x 2560x800
printf '[General]\nBallViewerX=2000\nBallViewerY=300\n' >"$INI"
start_host "$VB_TMP/screens.log"
BALL=$(vb_window_of "$HOST_PID" 120 48)
check "wide screen: the ball sits where it was saved" [ "$(vb_geometry "$BALL")" = "2000 300" ]
xrandr --newmode vb_1280x800 60 1280 1300 1320 1340 800 810 820 830 &&
  xrandr --addmode screen vb_1280x800 &&
  xrandr --output screen --mode vb_1280x800 --fb 1280x800
placed_again() {
  local i; for i in $(seq 1 100); do
    [ "$(vb_geometry "$BALL")" = "1160 300" ] && return 0; sleep 0.1
  done
  return 1
}
check "lowered resolution: the ball comes back inside the screen" placed_again
stop_host

# --- closing the host's main window leaves the ball running ---
vb_start_wm
printf '[General]\nBallViewerHide=true\n' >"$INI"
vb_bg "$VB_TMP/main.log" "$HOST"
HOST_PID=$VB_LAST_PID
MAIN=$(vb_window_of "$HOST_PID" 780 240)
read -r wx wy < <(vb_geometry "$MAIN")
xdotool mousemove $((wx + 20 + 75)) $((wy + 170 + 17)) click 1
BALL=$(vb_window_of "$HOST_PID" 120 48)
check "main window: the ball is back" [ -n "$BALL" ]
xdotool windowactivate --sync "$MAIN" key alt+F4
gone() {
  local i; for i in $(seq 1 50); do xwininfo -id "$MAIN" 2>/dev/null | grep -q IsViewable || return 0; sleep 0.1; done
  return 1
}
check "main window: closed by the window manager" gone
check "main window closed: the host runs on" kill -0 "$HOST_PID"
check "main window closed: the ball stays" bash -c "xwininfo -id $BALL | grep -q IsViewable"
stop_host

vb_finish

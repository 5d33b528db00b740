#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the seam's Windows backend and its tests with mingw-w64 in build-win32 and runs them
# under wine64 in a prefix of that folder, with one wineserver for every test. Installs
# nothing: the packages come from .ci/deps.sh. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${VB_WIN32_BUILD:-build-win32}
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
for tool in x86_64-w64-mingw32-g++-posix "$WINE64" "$WINESERVER"; do
  command -v "$tool" >/dev/null || { echo "wintest: $tool is missing (bash .ci/deps.sh)" >&2; exit 1; }
done
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE64" \
  -DVB_SEAM_ONLY=ON -DVB_WERROR=ON "${launcher[@]}"
ninja -C "$BUILD" -j"${VB_JOBS:-2}"

# The prefix lives with the build. It is made without a display; the server keeps the display
# of its first client, so the sessions below choose theirs.
export WINEPREFIX="$PWD/$BUILD/.wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$WINE64" wineboot -i
  "$WINESERVER" -w
fi
# One wine session: one persistent server, so that each test starts in a tenth of a second
# instead of seconds. The session's own processes (services, explorer) start with its first
# program and keep its output open for as long as the server lives: they start here, on
# nothing, or ctest would wait for them behind the first test. A session keeps the network
# namespace it started in.
session() {
  "$WINESERVER" -p
  "$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1
  local rc=0
  (cd "$BUILD" && ctest --output-on-failure "$@") || rc=$?
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
  return "$rc"
}
xvfb_pid=
trap '"$WINESERVER" -k 2>/dev/null || true; [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null' EXIT

# The desktop tests (windows, the hot key, monitors) need an X screen: an Xvfb of our own on a
# free display number, with a screen size and a work area (as a desktop panel would claim it,
# x,y,width,height) that the tests check the monitors against. -noreset keeps the work area
# when its setter disconnects.
export VB_TEST_SCREEN=1280x800 VB_TEST_WORKAREA=0,24,1280,776
exec {xvfb_fd}<> <(:)
Xvfb -displayfd "$xvfb_fd" -noreset -screen 0 "${VB_TEST_SCREEN}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 30 -u "$xvfb_fd" xvfb_display || { echo "wintest: Xvfb did not start" >&2; exit 1; }
exec {xvfb_fd}<&-
DISPLAY=":$xvfb_display" xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "$VB_TEST_WORKAREA"

# Online only where the machine has a route out; offline in an empty network namespace (root).
exclude=offline
if [ -z "$(ip route show default 2>/dev/null)" ]; then
  echo "wintest: no default route here, the online network test is left out"
  exclude="offline|online"
fi
rc=0
DISPLAY=":$xvfb_display" session -LE "$exclude" "$@" || rc=$?
if unshare -n true 2>/dev/null; then
  export -f session
  export WINE64 WINESERVER BUILD
  unshare -n bash -c 'session -L offline' || rc=$?
else
  echo "wintest: cannot make a network namespace here, the offline network test is left out"
fi
exit "$rc"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by end-to-end tests: a private Xvfb display, a private HOME and XDG folders, and
# helpers to find windows, wait for log lines and keep screenshots. Everything the test
# starts is ended by pid when it exits.
set -uo pipefail

# A ball running as root provisions its filter service: a record under /var/lib, a daemon
# (from the build's wfp folder) with its sockets under /run. Scripts that set
# VB_CONFINE_SERVICES=1 run in private mount and pid namespaces where those folders are empty,
# so the ball finds no service binary, and every process ends with the script: nothing of it
# reaches the machine. Tests that want the service start their own.
#
# VB_CONFINE_SERVICES=traffic is for tests that start the real filter service: its kernel
# programs name processes by the machine's pid numbers, so the pid namespace stays; instead
# the script runs in a cgroup subtree of its own and a cgroup namespace rooted there (the
# service counts the traffic of our processes only), with the same private mounts. The
# service binary stays reachable for the test as VB_FILTERD. The subtree is removed, and
# anything left in it ended, once the script ends.
if [ "${VB_CONFINE_SERVICES:-0}" = 1 ] && [ "$(id -u)" -eq 0 ] && [ -z "${VB_CONFINED:-}" ]; then
  export VB_CONFINED=1
  exec unshare --mount --pid --fork --kill-child --mount-proc bash "$0" "$@"
fi
if [ "${VB_CONFINE_SERVICES:-0}" = traffic ] && [ "$(id -u)" -eq 0 ] && [ -z "${VB_CONFINED:-}" ]; then
  vb_cg="/sys/fs/cgroup/unified/vb-e2e-$$"
  mkdir "$vb_cg" || exit 1
  VB_CONFINED=traffic bash -c 'echo $$ >"$1/cgroup.procs" && shift && exec unshare --cgroup --mount --propagation private bash "$@"' \
    vb-confine "$vb_cg" "$0" "$@"
  vb_rc=$?
  for vb_i in $(seq 1 50); do
    [ -s "$vb_cg/cgroup.procs" ] || break
    xargs -r kill -9 <"$vb_cg/cgroup.procs" 2>/dev/null
    sleep 0.1
  done
  rmdir "$vb_cg" || echo "warning: $vb_cg left behind" >&2
  exit "$vb_rc"
fi
if [ -n "${VB_CONFINED:-}" ]; then
  mount -t tmpfs vb-run /run
  mount -t tmpfs vb-varlib /var/lib
  if [ "$VB_CONFINED" = traffic ]; then
    # Seen from our cgroup namespace, only this mount has its root at "/": the service
    # attaches there, to our subtree.
    mkdir /run/vb-cgroup && mount -t cgroup2 vb-cgroup /run/vb-cgroup
    if [ -d "${VB_BIN_DIR:-/nonexistent}/wfp" ]; then
      mkdir /run/vb-wfp && mount --bind "$VB_BIN_DIR/wfp" /run/vb-wfp
      export VB_FILTERD=/run/vb-wfp/x64/filterd
    fi
  fi
  if [ -d "${VB_BIN_DIR:-/nonexistent}/wfp" ]; then mount -t tmpfs vb-nowfp "$VB_BIN_DIR/wfp"; fi
fi

VB_ARTEFACTS="${VB_ARTEFACTS:-${VB_BUILD_DIR:-/tmp}/test-artefacts}"
mkdir -p "$VB_ARTEFACTS"
VB_TMP="$(mktemp -d /tmp/vbtest.XXXXXX)"
export HOME="$VB_TMP/home" XDG_CONFIG_HOME="$VB_TMP/home/.config" XDG_CACHE_HOME="$VB_TMP/home/.cache"
export XDG_RUNTIME_DIR="$VB_TMP/run" XDG_PICTURES_DIR="$VB_TMP/home/Pictures"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QUICK_BACKEND=software QT_QPA_PLATFORM=xcb LANG=C.UTF-8
unset WAYLAND_DISPLAY
VB_PIDS=()
fails=0
passes=0

vb_cleanup() {
  local p
  for p in "${VB_PIDS[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
  sleep 0.2
  for p in "${VB_PIDS[@]:-}"; do [ -n "$p" ] && kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$VB_TMP"
}
trap vb_cleanup EXIT

# vb_start_x [WxH] [second WxH]: a fresh display; DISPLAY is exported. The server runs through
# VB_X_RUNNER when that array is set (the X server names its clients' pids in its own pid
# namespace, so a ball confined to one needs the server there too).
vb_start_x() {
  local size="${1:-1280x800}" n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    ${VB_X_RUNNER[@]+"${VB_X_RUNNER[@]}"} Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >"$VB_TMP/xvfb.log" 2>&1 &
    VB_PIDS+=($!)
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    export DISPLAY=":$n"
    if xdpyinfo >/dev/null 2>&1; then return 0; fi
  done
  echo "no free display for Xvfb" >&2
  return 1
}

# vb_start_wm: openbox as the window manager, ready when _NET_SUPPORTING_WM_CHECK is set.
vb_start_wm() {
  openbox --sm-disable >"$VB_TMP/openbox.log" 2>&1 &
  VB_PIDS+=($!)
  local i
  for i in $(seq 1 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.1
  done
  echo "openbox did not start" >&2
  return 1
}

# vb_bg LOG CMD...: starts CMD in the background with output to LOG; sets VB_LAST_PID.
vb_bg() {
  local log="$1"; shift
  "$@" >"$log" 2>&1 &
  VB_LAST_PID=$!
  VB_PIDS+=($VB_LAST_PID)
}

# vb_wait_log LOG PATTERN [seconds]: waits until PATTERN shows in LOG.
vb_wait_log() {
  local log="$1" pat="$2" secs="${3:-10}" i
  for i in $(seq 1 $((secs * 10))); do
    grep -q -- "$pat" "$log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# vb_window_of PID W H: the id of PID's viewable window of that size (waits up to 10 s).
vb_window_of() {
  local pid="$1" w="$2" h="$3" i id
  for i in $(seq 1 100); do
    for id in $(xdotool search --pid "$pid" 2>/dev/null || true); do
      if xwininfo -id "$id" 2>/dev/null | grep -q "Width: $w\$" &&
         xwininfo -id "$id" | grep -q "Height: $h\$" &&
         xwininfo -id "$id" | grep -q 'IsViewable'; then
        echo "$id"; return 0
      fi
    done
    sleep 0.1
  done
  return 1
}

# vb_geometry ID: prints "X Y" of a window's top-left corner on the screen.
vb_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}'
}

# vb_shot NAME [ID]: keeps a screenshot (of the screen, or of one window) as an artefact.
vb_shot() {
  local out="$VB_ARTEFACTS/$1.png"
  if [ -n "${2:-}" ]; then import -window "$2" "$out"; else import -window root "$out"; fi
  echo "screenshot: $out"
}

check() { # check DESCRIPTION COMMAND...
  local d="$1"; shift
  if "$@"; then echo "ok - $d"; passes=$((passes + 1)); else echo "not ok - $d"; fails=$((fails + 1)); fi
}

vb_finish() {
  echo "$passes passed, $fails failed"
  [ "$fails" -eq 0 ]
}

quiet() { "$@" >/dev/null; }

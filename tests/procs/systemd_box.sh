#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by tests that need a real service manager: boots a throw-away systemd as PID 1 of
# private pid/mount/cgroup/uts/ipc/net namespaces, confined to a cgroup2 subtree of its own
# with /proc/sys read-only, so it cannot touch the machine's processes, cgroups or sysctls.
# Its system bus socket is bound out of the box. Only for root.
#
#   box_boot [BULK]   boots with the test units (and BULK extra sleeping units); sets BOX_DIR,
#                     BOX_BUS (a D-Bus address usable outside) and BOX_PID1 (PID 1's outer pid).
#                     BOX_PREPARE names a script PID 1 sources first (mounts of the box's own,
#                     with BOX_DIR set); BOX_UNIT_PATH adds unit folders after the test units.
#   box_exec CMD...   runs CMD inside the box's pid and mount namespaces
#   box_teardown      Manager.Exit, kill -9 of PID 1 by pid if it lingers, rmdir the subtree
# The trap that calls box_teardown is the caller's.
set -uo pipefail

BOX_CGROUP_ROOT=/sys/fs/cgroup/unified
BOX_DIR=""
BOX_PID1=""
BOX_SCRIPT_PID=""
BOX_CG=""

_box_unit() { # _box_unit NAME TEXT
  printf '%s\n' "$2" >"$BOX_DIR/units/$1"
}

_box_units() {
  local bulk="$1" t i wants=""
  for t in basic local-fs paths shutdown slices sockets sysinit timers; do
    _box_unit "$t.target" "[Unit]
Description=Box stub $t
DefaultDependencies=no"
  done
  _box_unit dbus.socket "[Unit]
Description=Box system bus socket
[Socket]
ListenStream=/run/dbus/system_bus_socket"
  _box_unit dbus.service "[Unit]
Description=Box system bus
Requires=dbus.socket
[Service]
ExecStart=/usr/bin/dbus-daemon --system --address=systemd: --nofork --nopidfile --systemd-activation --nosyslog"
  _box_unit vbt-base.service "[Unit]
Description=Verdant test base
[Service]
ExecStart=/bin/sleep infinity"
  _box_unit vbt-requires.service "[Unit]
Description=Verdant test requiring the base
Requires=vbt-base.service
After=vbt-base.service
[Service]
ExecStart=/bin/sleep infinity"
  _box_unit vbt-bound.service "[Unit]
Description=Verdant test bound to the base
BindsTo=vbt-base.service
After=vbt-base.service
[Service]
ExecStart=/bin/sleep infinity"
  _box_unit vbt-wants.service "[Unit]
Description=Verdant test wanting the base
Wants=vbt-base.service
After=vbt-base.service
[Service]
ExecStart=/bin/sleep infinity"
  _box_unit vbt-noname.service "[Service]
ExecStart=/bin/sleep infinity"
  _box_unit vbt-oneshot.service "[Unit]
Description=Verdant test without a process
[Service]
Type=oneshot
RemainAfterExit=yes
ExecStart=/bin/true"
  # Ready only once its TERM trap is set, so a stop always finds it ignoring TERM.
  _box_unit vbt-slow.service "[Unit]
Description=Verdant test slow to stop
[Service]
Type=notify
NotifyAccess=all
ExecStart=/bin/sh -c 'trap \"\" TERM; systemd-notify --ready; while :; do sleep 1; done'
TimeoutStopSec=30"
  _box_unit vbt-idle.service "[Unit]
Description=Verdant test never started
[Service]
ExecStart=/bin/sleep infinity"
  # The fix: a chain (a requires b, b requires c) whose stops log their order; the slower
  # to stop sits higher, so stops run side by side would log the chain bottom up.
  _box_unit vbt-chain-c.service "[Unit]
Description=Verdant chain bottom
[Service]
ExecStart=/bin/sleep infinity
ExecStopPost=/bin/sh -c 'echo %n >>/run/vbt-stops'"
  _box_unit vbt-chain-b.service "[Unit]
Description=Verdant chain middle
Requires=vbt-chain-c.service
[Service]
ExecStart=/bin/sleep infinity
ExecStop=/bin/sleep 0.3
ExecStopPost=/bin/sh -c 'echo %n >>/run/vbt-stops'"
  _box_unit vbt-chain-a.service "[Unit]
Description=Verdant chain top
Requires=vbt-chain-b.service
[Service]
ExecStart=/bin/sleep infinity
ExecStop=/bin/sleep 0.6
ExecStopPost=/bin/sh -c 'echo %n >>/run/vbt-stops'"
  for i in 1 2; do
    _box_unit "vbt-fix-slow$i.service" "[Unit]
Description=Verdant fix slow to stop $i
[Service]
Type=notify
NotifyAccess=all
ExecStart=/bin/sh -c 'trap \"\" TERM; systemd-notify --ready; while :; do sleep 1; done'
TimeoutStopSec=30"
  done
  for i in 1 2 3 user; do
    _box_unit "vbt-fix-$i.service" "[Unit]
Description=Verdant fix plain $i
[Service]
ExecStart=/bin/sleep infinity"
  done
  wants="$wants vbt-chain-a.service vbt-fix-slow1.service vbt-fix-slow2.service"
  wants="$wants vbt-fix-1.service vbt-fix-2.service vbt-fix-3.service vbt-fix-user.service"
  for i in $(seq 1 "$bulk"); do
    _box_unit "vbt-bulk-$i.service" "[Unit]
Description=Verdant bulk unit $i
[Service]
ExecStart=/bin/sleep infinity"
    wants="$wants vbt-bulk-$i.service"
  done
  _box_unit vbt.target "[Unit]
Description=Verdant test boot target
Requires=dbus.socket
After=dbus.socket
Wants=vbt-requires.service vbt-bound.service vbt-wants.service vbt-noname.service vbt-oneshot.service vbt-slow.service$wants"
}

box_boot() {
  local bulk="${1:-0}" i st
  if [ "$(id -u)" != 0 ]; then echo "the systemd box needs root" >&2; return 1; fi
  BOX_DIR="$(mktemp -d /tmp/vbbox.XXXXXX)"
  BOX_CG="$BOX_CGROUP_ROOT/vb-box-$$-$RANDOM"
  mkdir -p "$BOX_DIR/units" "$BOX_DIR/run-dbus" "$BOX_DIR/etc-empty"
  _box_units "$bulk"
  # PID 1's own script, inside the namespaces.
  cat >"$BOX_DIR/init.sh" <<INIT
#!/bin/bash
set -eu
# systemd would raise global sysctls (fs.file-max, ...): give it a read-only /proc/sys.
mount --bind /proc/sys /proc/sys && mount -o remount,bind,ro /proc/sys
mount -t cgroup2 cgroup2 /sys/fs/cgroup
mount -t tmpfs -o mode=755 tmpfs /run
mkdir -p /run/dbus && mount --bind "$BOX_DIR/run-dbus" /run/dbus
if [ -n "\${CONSOLE_TTY:-}" ]; then mount --bind "\$CONSOLE_TTY" /dev/console; fi
${BOX_PREPARE:+BOX_DIR="$BOX_DIR" . "$BOX_PREPARE"}
mount --bind "$BOX_DIR/etc-empty" /etc/systemd/system
export container=vbbox SYSTEMD_UNIT_PATH="$BOX_DIR/units${BOX_UNIT_PATH:+:$BOX_UNIT_PATH}"
exec /lib/systemd/systemd --unit=vbt.target --log-target=console --log-level=notice --show-status=0
INIT
  # Into the subtree first, then new namespaces: the box's cgroup root is that subtree.
  cat >"$BOX_DIR/confine.sh" <<CONF
#!/bin/bash
set -eu
mkdir -p "$BOX_CG"
echo \$\$ >"$BOX_CG/cgroup.procs"
exec unshare --cgroup --mount --propagation private --pid --fork --mount-proc --uts --ipc --net bash "$BOX_DIR/init.sh"
CONF
  # script gives PID 1 a terminal for its console.
  script -qfec "CONSOLE_TTY=\$(tty) bash $BOX_DIR/confine.sh" "$BOX_DIR/console.log" >/dev/null 2>&1 &
  BOX_SCRIPT_PID=$!
  BOX_BUS="unix:path=$BOX_DIR/run-dbus/system_bus_socket"
  for i in $(seq 1 300); do
    st=$(DBUS_SYSTEM_BUS_ADDRESS="$BOX_BUS" busctl --system get-property org.freedesktop.systemd1 \
         /org/freedesktop/systemd1 org.freedesktop.systemd1.Manager SystemState 2>/dev/null) &&
      case "$st" in *running*|*degraded*) break ;; esac
    kill -0 "$BOX_SCRIPT_PID" 2>/dev/null || break
    sleep 0.05
  done
  BOX_PID1="$(head -1 "$BOX_CG/init.scope/cgroup.procs" 2>/dev/null || true)"
  case "${st:-}" in *running*|*degraded*) ;; *)
    echo "the box did not boot (state ${st:-none}); console:" >&2
    tail -20 "$BOX_DIR/console.log" >&2 || true
    return 1 ;;
  esac
  [ -n "$BOX_PID1" ] || { echo "no PID 1 in $BOX_CG" >&2; return 1; }
  echo "box booted: PID 1 is $BOX_PID1 outside, bus $BOX_BUS"
}

box_exec() {
  nsenter -t "$BOX_PID1" -m -p -- env -u DBUS_SYSTEM_BUS_ADDRESS "$@"
}

box_teardown() {
  local i
  [ -n "$BOX_DIR" ] || return 0
  if [ -n "$BOX_SCRIPT_PID" ]; then
    DBUS_SYSTEM_BUS_ADDRESS="$BOX_BUS" timeout 5 busctl --system call org.freedesktop.systemd1 \
      /org/freedesktop/systemd1 org.freedesktop.systemd1.Manager Exit >/dev/null 2>&1 || true
    for i in $(seq 1 40); do kill -0 "$BOX_SCRIPT_PID" 2>/dev/null || break; sleep 0.05; done
    # Killing PID 1 ends every process of its pid namespace.
    if kill -0 "$BOX_SCRIPT_PID" 2>/dev/null && [ -n "$BOX_PID1" ]; then kill -9 "$BOX_PID1" 2>/dev/null || true; fi
    for i in $(seq 1 100); do kill -0 "$BOX_SCRIPT_PID" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$BOX_SCRIPT_PID" 2>/dev/null && kill -9 "$BOX_SCRIPT_PID" 2>/dev/null
    wait "$BOX_SCRIPT_PID" 2>/dev/null || true
  fi
  if [ -n "$BOX_CG" ] && [ -d "$BOX_CG" ]; then
    for i in $(seq 1 40); do
      find "$BOX_CG" -depth -type d -exec rmdir {} \; 2>/dev/null
      [ -d "$BOX_CG" ] || break
      sleep 0.05
    done
    [ -d "$BOX_CG" ] && echo "warning: $BOX_CG left behind" >&2
  fi
  rm -rf "$BOX_DIR"
  BOX_DIR=""
}

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package in a real systemd: dpkg installs it into the box's own copy of /usr, /etc
# and /var (overlays on a tmpfs that lives only in the box), the maintainer scripts enable and
# start pswfp.service, which runs hardened; ordinary users reach it read-only, administrators
# read-write, and both see a real transfer; a purge then leaves no file, unit, BPF link or
# socket behind. Only for root; the machine's own systemd, /etc and packages are never touched.
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
source "$VB_SOURCE_DIR/tests/install/staging.sh"
trap 'box_teardown; stage_cleanup' EXIT

deb=$(stage_deb) || exit 1
echo "package: $deb"

BOX_PREPARE="$STAGE_TMP/prepare.sh"
cat >"$BOX_PREPARE" <<'PREP'
mkdir -p "$BOX_DIR/pkgroot"
mount -t tmpfs -o mode=755 vb-pkgroot "$BOX_DIR/pkgroot"
for d in usr etc var; do
  mkdir -p "$BOX_DIR/pkgroot/$d/up" "$BOX_DIR/pkgroot/$d/work"
  mount -t overlay "vb-$d" -o "lowerdir=/$d,upperdir=$BOX_DIR/pkgroot/$d/up,workdir=$BOX_DIR/pkgroot/$d/work" "/$d"
done
# The box's system units: only what the package brings.
mkdir -p "$BOX_DIR/pkgroot/units"
mount --bind "$BOX_DIR/pkgroot/units" /usr/lib/systemd/system
# No manual page index rebuild for the whole machine's pages; and the box is a machine that
# starts services (a container's policy-rc.d would forbid it).
rm -f /var/lib/man-db/auto-update /usr/sbin/policy-rc.d
PREP
BOX_UNIT_PATH=/etc/systemd/system:/lib/systemd/system
box_boot 0 || exit 1

# in_box CMD...: a command inside the box (its files, its systemd), output kept.
in_box() { box_exec "$@" 2>&1; }
# as_user [GROUPS] CMD...: CMD as the unprivileged user nobody, started by the box's systemd so
# that it runs in the box's cgroup and network.
as_user() {
  local groups="$1"; shift
  box_exec systemd-run --quiet --wait --pipe --collect -p User=nobody -p Group=nogroup \
    ${groups:+-p SupplementaryGroups=$groups} "$@" 2>&1
}
wait_active() { # wait_active UNIT: active within 15 s
  local i
  for i in $(seq 1 150); do
    case "$(in_box systemctl is-active "$1")" in active) return 0 ;; failed) return 1 ;; esac
    sleep 0.1
  done
  return 1
}
box_links() { # cgroup BPF links on the box's cgroup
  local id; id=$(stat -c %i "$BOX_CG")
  bpftool link show -j 2>/dev/null | python3 -c "import json,sys; print(sum(1 for l in json.load(sys.stdin) if l.get('cgroup_id') == $id))"
}
# The checks below run in subshells.
export -f box_exec in_box as_user box_links
export BOX_PID1 BOX_CG

# The target the unit is enabled for, so that enabling means starting with the machine.
printf '[Unit]\nDescription=Box multi-user stub\n' >"$BOX_DIR/units/multi-user.target"
in_box systemctl daemon-reload

out=$(in_box dpkg -i "$deb"); rc=$?
echo "$out"
check "dpkg -i installs the package" [ "$rc" -eq 0 ]
check "postinst enabled pswfp.service" [ "$(in_box systemctl is-enabled pswfp.service)" = enabled ]
check "postinst started pswfp.service" wait_active pswfp.service
check "systemd uses the packaged unit" \
  bash -c "[ \"\$(box_exec systemctl show -P FragmentPath pswfp.service)\" = /lib/systemd/system/pswfp.service ]"

# The hardening as the kernel sees it in the running service.
pid=$(in_box systemctl show -P MainPID pswfp.service)
status=$(in_box cat "/proc/$pid/status")
caps=$(printf '%016x' $(( (1 << 0) | (1 << 12) | (1 << 19) | (1 << 21) | (1 << 39) )))
check "capability bounding set: chown net_admin sys_ptrace sys_admin bpf" \
  grep -q "^CapBnd:[[:space:]]*$caps\$" <<<"$status"
check "no new privileges" grep -q "^NoNewPrivs:[[:space:]]*1\$" <<<"$status"
check "system call filter" grep -q "^Seccomp:[[:space:]]*2\$" <<<"$status"
check "read-only system for the service" \
  bash -c "! box_exec nsenter -t $pid -m touch /usr/vb-probe /etc/vb-probe 2>/dev/null"
check "private /tmp for the service" \
  bash -c "box_exec grep -q ' /tmp ' /proc/$pid/mountinfo && ! box_exec grep -q ' /tmp ' /proc/1/mountinfo"
check "the service counts with cgroup BPF" bash -c "[ \"\$(box_links)\" -gt 0 ]"
echo "--- systemd-analyze security pswfp.service"
sec=$(in_box systemd-analyze security --no-pager pswfp.service)
echo "$sec"
exposure=$(sed -n 's/.*Overall exposure level for pswfp.service: \([0-9.]*\) \(.*\)/\1 \2/p' <<<"$sec")
echo "exposure: $exposure"
check "exposure rated OK or LOW" grep -Eq '^[0-9.]+ (OK|LOW)' <<<"$exposure"

# Users reach it: read-only, or read-write in the administrators' group.
check "an ordinary user gets access mode 1" \
  bash -c "as_user '' '$VB_BIN_DIR/vb_flowctl' /run/pswfp mode | grep -qx mode=1"
check "an administrator gets access mode 2" \
  bash -c "as_user sudo '$VB_BIN_DIR/vb_flowctl' /run/pswfp mode | grep -qx mode=2"
in_box systemd-run --quiet --collect --unit=vbt-tsrv -p User=nobody "$VB_BIN_DIR/vb_tgen" tcp-server 5001 200000
for i in $(seq 1 100); do
  box_exec nsenter -t 1 -n ss -Hltn 'sport = :5001' 2>/dev/null | grep -q LISTEN && break
  sleep 0.1
done
as_user '' "$VB_BIN_DIR/vb_tgen" tcp-client 127.0.0.1 5001 300000 200000 0
# Read by an administrator: an ordinary user sees only their own processes, and the kernel gives
# the service host process ids that the box's own /proc (another pid namespace) cannot name.
sums=$(as_user sudo "$VB_BIN_DIR/vb_flowctl" /run/pswfp sums)
echo "$sums"
check "an administrator sees the transfer: one process sent 300000 and received 200000 bytes" \
  bash -c "awk '{for(i=1;i<=NF;i++){split(\$i,kv,\"=\"); v[kv[1]]=kv[2]} if (v[\"out\"]>=300000 && v[\"in\"]>=200000) f=1} END{exit !f}' <<<'$sums'"

# Enabled means started when the machine comes up.
in_box systemctl stop pswfp.service
in_box systemctl start multi-user.target
check "reaching multi-user.target starts the enabled service" wait_active pswfp.service

# A ball running as root finds the packaged unit: it starts it and writes no unit of its own.
filterd="$(in_box systemctl show -P ExecStart pswfp.service | sed -n 's/.*path=\([^ ;]*\).*/\1/p')"
in_box systemctl stop pswfp.service
check "a root ball provisions the stopped packaged service" \
  bash -c "box_exec '$VB_BIN_DIR/vb_flowctl' /run/pswfp ensure '$filterd' | grep -qx ensure=1"
check "which runs again" wait_active pswfp.service
check "and no second unit is written" bash -c "! box_exec test -e /etc/systemd/system/pswfp.service"

# Purge: nothing left.
out=$(in_box dpkg --purge verdant-ball); rc=$?
echo "$out"
check "dpkg --purge removes the package" [ "$rc" -eq 0 ]
check "the service process is gone" bash -c "! box_exec kill -0 $pid 2>/dev/null"
check "no unit known to systemd" bash -c "! box_exec systemctl cat pswfp.service >/dev/null 2>&1"
check "no enablement left" bash -c "[ -z \"\$(box_exec find /etc/systemd/system /var/lib/systemd -name 'pswfp*')\" ]"
# Character devices in the overlays are whiteouts: records of removed files, not files.
left=$(in_box find "$BOX_DIR/pkgroot" /run /etc/systemd/system \( -iname '*verdant*' -o -iname '*pswfp*' \) ! -type c -print)
check "no file left${left:+: $left}" [ -z "$left" ]
check "no socket folder" bash -c "! box_exec test -e /run/pswfp"
check "no socket of the service" bash -c "! grep -q pswfp /proc/$BOX_PID1/net/unix"
check "no BPF link on the box's cgroup" [ "$(box_links)" -eq 0 ]
check "dpkg forgot the package" \
  bash -c "! box_exec dpkg-query -W -f='\${Status}' verdant-ball 2>/dev/null | grep -q installed"
vb_finish

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Services as an ordinary desktop user sees them, in the systemd box: polkitd with rules that
# grant, refuse and ask an administrator's password, a user made here with a systemd instance
# of its own (a user unit, an application scope and an application service), and the same
# again as root. The user and the administrator exist only in the box's private /etc.
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
WORK="$(mktemp -d /tmp/vbusersvc.XXXXXX)"
APP_PIDS=()
cleanup() {
  local p
  for p in "${APP_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  box_teardown
  rm -rf "$WORK"
}
trap cleanup EXIT
ADMIN_PW=vb-admin-secret

# The box's user database: copies of the machine's with the two test accounts added by useradd.
mkdir -p "$WORK/root/etc" "$WORK/rules.d" "$WORK/units"
cp -p /etc/passwd /etc/group /etc/shadow /etc/gshadow /etc/login.defs "$WORK/root/etc/"
useradd --prefix "$WORK/root" -m -s /bin/sh vbtuser || exit 1
useradd --prefix "$WORK/root" -m -s /bin/sh -p "$(openssl passwd -6 "$ADMIN_PW")" vbtadmin || exit 1
TUID=$(awk -F: '$1 == "vbtuser" { print $3 }' "$WORK/root/etc/passwd")
mkdir -p "$WORK/root/home/vbtuser/.config/systemd/user"
printf '[Unit]\nDescription=Verdant test user unit\n[Service]\nExecStart=/bin/sleep infinity\n' \
  >"$WORK/root/home/vbtuser/.config/systemd/user/vbt-own.service"
chown -R "$TUID:$TUID" "$WORK/root/home/vbtuser"

cat >"$WORK/rules.d/10-vbt.rules" <<'RULES'
// Before the distribution's admin rule (40-debian-sudo). What the test user may do with the test units: one granted, some asked for an
// administrator's password (kept for the asking process a while), every other refused.
polkit.addRule(function(action, subject) {
  if (action.id != "org.freedesktop.systemd1.manage-units" || subject.user != "vbtuser")
    return polkit.Result.NOT_HANDLED;
  var unit = action.lookup("unit");
  if (unit == "vbt-pk-grant.service")
    return polkit.Result.YES;
  if (unit.indexOf("vbt-pk-ask") == 0)
    return polkit.Result.AUTH_ADMIN_KEEP;
  return polkit.Result.NO;
});
polkit.addAdminRule(function(action, subject) { return ["unix-user:vbtadmin"]; });
RULES
chmod 755 "$WORK/rules.d"

unit() { printf '%s\n' "$2" >"$WORK/units/$1"; }
unit polkit.service "[Unit]
Description=Box authorisation manager
[Service]
Type=dbus
BusName=org.freedesktop.PolicyKit1
ExecStart=/usr/lib/polkit-1/polkitd --no-debug"
unit user-runtime-dir@.service "[Unit]
Description=Box runtime folder of %i
StopWhenUnneeded=yes
[Service]
Type=oneshot
RemainAfterExit=yes
ExecStart=/lib/systemd/systemd-user-runtime-dir start %i
ExecStop=/lib/systemd/systemd-user-runtime-dir stop %i
Slice=user-%i.slice"
# No logind in the box: the runtime folder is named here, not by pam_systemd.
unit user@.service "[Unit]
Description=Box user manager for %i
After=user-runtime-dir@%i.service dbus.service
Requires=user-runtime-dir@%i.service
[Service]
User=%i
PAMName=systemd-user
Type=notify
ExecStart=/lib/systemd/systemd --user
Slice=user-%i.slice
KillMode=mixed
Delegate=pids memory cpu
TimeoutStopSec=10s
Environment=XDG_RUNTIME_DIR=/run/user/%i"
for u in grant refuse ask ask2 ask3 ask4; do
  unit "vbt-pk-$u.service" "[Unit]
Description=Verdant polkit test $u
[Service]
ExecStart=/bin/sleep infinity"
done

cat >"$WORK/prepare.sh" <<PREP
for f in passwd group shadow gshadow; do mount --bind "$WORK/root/etc/\$f" "/etc/\$f"; done
mount --bind "$WORK/rules.d" /etc/polkit-1/rules.d
mount --bind "$WORK/root/home" /home
PREP
export BOX_PREPARE="$WORK/prepare.sh" BOX_UNIT_PATH="$WORK/units"
box_boot 0 || exit 1
box_exec systemctl start polkit.service vbt-pk-{grant,refuse,ask,ask2,ask3,ask4}.service \
  "user@$TUID.service" || exit 1

as_user() { # as_user CMD...: the test user in the box, no session, its manager's runtime folder
  box_exec setpriv --reuid="$TUID" --regid="$TUID" --init-groups \
    env -i PATH=/usr/bin:/bin HOME=/home/vbtuser USER=vbtuser LANG=C.UTF-8 \
    XDG_RUNTIME_DIR="/run/user/$TUID" "$@"
}
as_user systemctl --user start vbt-own.service || exit 1
# Applications as desktops start them: one in a scope of its own, one as a service.
as_user systemd-run --user --scope --unit=app-vbt-editor.scope /bin/sleep infinity \
  >"$WORK/scope.log" 2>&1 &
APP_PIDS+=($!)
as_user systemd-run --user --unit=app-vbt-viewer.service /bin/sleep infinity || exit 1
as_user systemd-run --user --unit=app-vbt-helper@autostart.service /bin/sleep infinity || exit 1
for i in $(seq 1 100); do
  as_user systemctl --user is-active --quiet app-vbt-editor.scope && break
  sleep 0.05
done

agent() { # agent MODE TESTS...: the user's run with an agent in MODE, its prompts counted
  as_user python3 "$VB_SOURCE_DIR/tests/procs/pkagent.py" "$1" 80 \
    "$VB_BIN_DIR/tst_usersvc" "${@:2}" | tee "$WORK/agent.out"
  local rc=${PIPESTATUS[0]}
  PROMPTS=$(sed -n 's/^prompts=//p' "$WORK/agent.out")
  return "$rc"
}
rc=0
check() { local what="$1"; shift; if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; rc=1; fi; }

check "the user's listing" agent "$ADMIN_PW" userSeesServicesTheirUnitsAndApplications
check "the user's fix, granted, refused and asked" agent "$ADMIN_PW" aFixStopsWhatPolkitAllows
# Two units asked for with the answer kept: the person at the agent typed it once.
check "one prompt for the whole fix" test "$PROMPTS" = 1
check "a prompt never answered" agent silent anUnansweredPromptLeavesTheUnitUncounted
check "a prompt cancelled" agent cancel anUnansweredPromptLeavesTheUnitUncounted
box_exec systemctl start vbt-pk-grant.service vbt-pk-ask.service
check "root's listing and fix" box_exec env VB_AS_ROOT=1 "$VB_BIN_DIR/tst_usersvc" \
  rootSeesServicesAndStopsThem
exit "$rc"

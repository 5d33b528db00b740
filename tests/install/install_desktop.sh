#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The ball started the way the desktop starts it: the installed menu entry's command, found on
# the PATH, run by an ordinary user on an X server. It must load the staged application folder
# (not the build tree) and show the ball. As an ordinary user the ball never touches the
# filter service, so no confinement is needed.
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
source "$VB_SOURCE_DIR/tests/install/staging.sh"
trap 'vb_cleanup; stage_cleanup' EXIT

check "cmake --install into a staging root" stage_install
[ -n "$STAGE_APPDIR" ] || { vb_finish; exit 1; }
entry="$STAGE/usr/share/applications/verdant-ball.desktop"
cmd=$(sed -n 's/^Exec=//p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
check "the entry's icon is installed in hicolor" [ -f "$STAGE/usr/share/icons/hicolor/48x48/apps/$icon.png" ]

# The user: nobody, with a home and XDG folders of their own.
chmod 755 "$VB_TMP"
chown -R nobody:nogroup "$HOME" "$XDG_RUNTIME_DIR"

vb_start_x 1280x800
vb_bg "$VB_TMP/ball.log" setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env PATH="$STAGE/usr/bin:/usr/bin:/bin" HOME="$HOME" XDG_CONFIG_HOME="$XDG_CONFIG_HOME" \
  XDG_DATA_HOME="$HOME/.local/share" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" $cmd
pid=$VB_LAST_PID
check "the entry's command shows the ball" vb_wait_log "$VB_TMP/ball.log" 'ball shown' 20 ||
  cat "$VB_TMP/ball.log"
win=$(vb_window_of "$pid" 120 48)
check "the ball's window is on screen" [ -n "$win" ]
check "runs as the ordinary user" [ "$(stat -c %U "/proc/$pid")" = nobody ]
maps=$(cat "/proc/$pid/maps" 2>/dev/null)
check "the ball library comes from the installed folder" grep -q "$STAGE_APPDIR/libverdantball.so" <<<"$maps"
check "the helper library comes from the installed folder" grep -q "$STAGE_APPDIR/libvdshelper.so" <<<"$maps"
check "nothing is loaded from the build tree" bash -c "! grep -q '$VB_BIN_DIR/' <<<'$maps'"
vb_shot installed-ball
vb_finish

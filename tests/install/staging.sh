#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the installation tests: the build installed into a staging root, and the Debian
# package built from it. Both go to a temporary folder removed when the script ends (unless
# the caller's own trap takes over and calls stage_cleanup).
set -uo pipefail

STAGE_TMP="$(mktemp -d /tmp/vbstage.XXXXXX)"
chmod 755 "$STAGE_TMP"
STAGE="$STAGE_TMP/root"
STAGE_APPDIR=""
fails=${fails:-0}
passes=${passes:-0}
stage_cleanup() { rm -rf "$STAGE_TMP"; }

# stage_install: cmake --install into $STAGE; sets STAGE_APPDIR (the application folder).
stage_install() {
  DESTDIR="$STAGE" cmake --install "$VB_BUILD_DIR" >"$STAGE_TMP/install.log" 2>&1 ||
    { cat "$STAGE_TMP/install.log"; return 1; }
  STAGE_APPDIR="$(dirname "$(find "$STAGE" -name verdant-ball-host -type f | head -1)")"
  [ -d "$STAGE_APPDIR" ]
}

# stage_deb: cpack -G DEB; prints the package's path.
stage_deb() {
  (cd "$VB_BUILD_DIR" && cpack -G DEB -B "$STAGE_TMP/deb" >"$STAGE_TMP/cpack.log" 2>&1) ||
    { cat "$STAGE_TMP/cpack.log" >&2; return 1; }
  ls "$STAGE_TMP"/deb/*.deb
}

if ! declare -F check >/dev/null; then
  check() { # check DESCRIPTION COMMAND...
    local d="$1"; shift
    if "$@"; then echo "ok - $d"; passes=$((passes + 1)); else echo "not ok - $d"; fails=$((fails + 1)); fi
  }
  vb_finish() {
    echo "$passes passed, $fails failed"
    [ "$fails" -eq 0 ]
  }
fi

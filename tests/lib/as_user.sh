#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one test program of the build as an ordinary user, as the ball runs: started as root it
# becomes nobody without capabilities; otherwise it runs as whoever started it.
# Usage: as_user.sh <test program> [arguments]
set -u
program="$VB_BIN_DIR/$1"
shift
if [ "$(id -u)" = 0 ]; then
  exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
    env HOME=/tmp QT_QPA_PLATFORM=offscreen "$program" "$@"
fi
exec "$program" "$@"

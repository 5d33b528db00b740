#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The fix against real processes as an ordinary user, on children of that user.
set -u
if [ "$(id -u)" = 0 ]; then
  exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
    env HOME=/tmp QT_QPA_PLATFORM=offscreen "$VB_BIN_DIR/tst_terminate"
fi
exec "$VB_BIN_DIR/tst_terminate"

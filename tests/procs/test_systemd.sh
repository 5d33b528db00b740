#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Services against a real systemd in a box: the listing, dependents, stops and the boost pass.
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
trap box_teardown EXIT
box_boot 0 || exit 1
box_exec "$VB_BIN_DIR/tst_systemdservices" || rc=1
# The fix, as an ordinary user (whose stops are refused) first, then as root.
box_exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all \
  env HOME=/tmp "$VB_BIN_DIR/tst_systemdfix" || rc=1
box_exec "$VB_BIN_DIR/tst_systemdfix" || rc=1
exit "${rc:-0}"

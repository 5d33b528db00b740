#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Services against a real systemd in a box: the listing, dependents, stops and the boost pass.
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
trap box_teardown EXIT
box_boot 0 || exit 1
box_exec "$VB_BIN_DIR/tst_systemdservices"

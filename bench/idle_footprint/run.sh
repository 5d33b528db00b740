#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the idle footprint benchmark as root in private mount and pid namespaces (the test
# session's confinement): the ball provisions its filter service there, on empty /run and
# /var/lib, and everything ends with the run. A private X server shows the ball.
VB_SOURCE_DIR="${VB_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
VB_BIN_DIR="${VB_BIN_DIR:-$VB_SOURCE_DIR/build/bin}"
export VB_SOURCE_DIR VB_BIN_DIR
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 1; }
VB_CONFINE_SERVICES=1
source "$VB_SOURCE_DIR/tests/lib/xsession.sh"
# The session hides the build's service binary; the benchmark wants it provisioned.
umount "$VB_BIN_DIR/wfp" 2>/dev/null || true
vb_start_x 1280x800
"$VB_BIN_DIR/bench_idle_footprint"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the fix benchmark inside a systemd box with 10 extra units (needs root); the box has its
# own pid namespace, so the benchmark's children and the units' processes share it.
# Usage: bench/fix/run.sh [build dir]
here="$(cd "$(dirname "$0")" && pwd)"
VB_SOURCE_DIR="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$VB_SOURCE_DIR/build}" && pwd)"
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
trap box_teardown EXIT
box_boot 10 >/dev/null || exit 1
box_exec env -u DISPLAY "$build/bin/vb_bench_fix"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the pass benchmark inside a systemd box with 30 extra units (needs root). The box has
# its own pid namespace, so the benchmark runs in it (the units' main pids are its pids) and
# without a display (an X server would name its clients by outer pids).
# Usage: bench/enum_pass/run.sh [build dir]
here="$(cd "$(dirname "$0")" && pwd)"
VB_SOURCE_DIR="$(cd "$here/../.." && pwd)"
build="$(cd "${1:-$VB_SOURCE_DIR/build}" && pwd)"
source "$VB_SOURCE_DIR/tests/procs/systemd_box.sh"
trap box_teardown EXIT
box_boot 30 >/dev/null || exit 1
box_exec env -u DISPLAY "$build/bin/vb_bench_enum_pass"

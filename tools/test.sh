#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the build and the tests need (as root), builds with warnings as errors and runs
# every test. Starts a virtual X server for the tests that need a display when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${VB_BUILD:-build}"
if [ "${VB_SKIP_DEPS:-0}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
  bash .ci/deps.sh
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVB_WERROR=ON ${VB_CMAKE_ARGS:-}
ninja -C "$BUILD" -j"$(nproc)"
cd "$BUILD"
run=(ctest --output-on-failure --timeout 600 ${VB_CTEST_ARGS:-})
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "${run[@]}"
else
  "${run[@]}"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the build and the tests need (as root), builds with warnings as errors and runs
# every test. Starts a virtual X server for the tests that need a display when there is none.
# VB_PRESET picks another preset of CMakePresets.json (dev, ci, asan, tsan; ci by default),
# VB_TARGETS builds only those targets, VB_CTEST_ARGS adds ctest arguments, VB_BUILD_ONLY=1 stops
# after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
PRESET="${VB_PRESET:-ci}"
if [ "${VB_SKIP_DEPS:-0}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
  bash .ci/deps.sh
fi
cmake --preset "$PRESET" ${VB_CMAKE_ARGS:-}
# The preset's build folder, following "inherits" to the preset that names one.
BUILD=$(python3 - "$PRESET" <<'PY'
import json, sys
presets = {p["name"]: p for p in json.load(open("CMakePresets.json"))["configurePresets"]}
p = presets[sys.argv[1]]
while "binaryDir" not in p:
    p = presets[p["inherits"]]
print(p["binaryDir"].replace("${sourceDir}/", ""))
PY
)
ninja -C "$BUILD" -j"$(nproc)" ${VB_TARGETS:-}
[ "${VB_BUILD_ONLY:-0}" = 1 ] && exit 0
run=(ctest --preset "$PRESET" ${VB_CTEST_ARGS:-})
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "${run[@]}"
else
  "${run[@]}"
fi

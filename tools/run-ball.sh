#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the ball needs (as root, or through sudo), builds it and starts the demo host
# on the user's display.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${VB_SKIP_DEPS:-0}" != 1 ]; then
  if [ "$(id -u)" -eq 0 ]; then bash .ci/deps.sh; else sudo bash .ci/deps.sh; fi
fi
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVB_BUILD_TESTS=OFF -DVB_BUILD_BENCH=OFF
ninja -C build-release
exec build-release/bin/verdant-ball-host "$@"

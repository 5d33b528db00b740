#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# With a temporary swap file, anonymous pages can leave memory too: runs the working-set tests
# that need swap, then takes the swap file away again whatever happened.
set -euo pipefail
[ "$(id -u)" = 0 ] || { echo "needs root (swapon)"; exit 1; }
: "${VB_TST_WORKINGSETS:?}"

dir="$(mktemp -d "${VB_BUILD_DIR:-/tmp}/vbswap.XXXXXX")"
swap="$dir/swapfile"
swapped_on=0
cleanup() {
  if [ "$swapped_on" = 1 ]; then
    swapoff "$swap" || echo "swapoff $swap failed" >&2
  fi
  rm -rf "$dir"
  if grep -q "$swap" /proc/swaps; then echo "the swap file is still in use" >&2; exit 1; fi
}
trap cleanup EXIT

# A swap file must have no holes, so it is written out rather than made sparse.
dd if=/dev/zero of="$swap" bs=1M count=256 status=none
chmod 600 "$swap"
mkswap "$swap" >/dev/null
swapon "$swap"
swapped_on=1
grep -q "$swap" /proc/swaps

out="$dir/out.txt"
rc=0
"$VB_TST_WORKINGSETS" anonymousPagesGoToSwap fileBackedPagesLeave releaseOverOwnProcesses \
  >"$out" 2>&1 || rc=$?
cat "$out"
grep -q '^PASS   : TestWorkingSets::anonymousPagesGoToSwap()' "$out" || { echo "the swap test did not pass"; rc=1; }
exit "$rc"

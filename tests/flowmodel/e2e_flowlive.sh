#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The traffic model against the real filter service: two network namespaces of our own joined
# by a veth pair carry all traffic; the test starts the service on a socket folder of its own.
# Needs root. Namespaces and processes are removed however the test ends.
set -u
[ "$(id -u)" = 0 ] || { echo "not ok - needs root"; exit 1; }
T=$(mktemp -d /tmp/vbflowlive.XXXXXX)
chmod 755 "$T"
NSA=vbla$$
NSB=vblb$$
cleanup() {
  ip netns pids "$NSA" 2>/dev/null | xargs -r kill 2>/dev/null
  ip netns pids "$NSB" 2>/dev/null | xargs -r kill 2>/dev/null
  ip netns del "$NSA" 2>/dev/null
  ip netns del "$NSB" 2>/dev/null
  rm -rf "$T"
}
trap cleanup EXIT
ip netns add "$NSA" && ip netns add "$NSB" || { echo "not ok - netns"; exit 1; }
ip -n "$NSA" link add va type veth peer name vb netns "$NSB"
ip -n "$NSA" addr add 10.88.0.1/24 dev va
ip -n "$NSB" addr add 10.88.0.2/24 dev vb
for ns in "$NSA" "$NSB"; do ip -n "$ns" link set lo up; done
ip -n "$NSA" link set va up
ip -n "$NSB" link set vb up
# The receiving side runs from another image, so blocking the sender's path leaves it alone.
cp "$VB_BIN_DIR/vb_tgen" "$T/vb_sink"
mkdir -p "$T/sock"
VB_NSA=$NSA VB_NSB=$NSB VB_SOCK_DIR=$T/sock VB_TGEN=$VB_BIN_DIR/vb_tgen VB_SINK=$T/vb_sink \
VB_FILTERD=$VB_BIN_DIR/wfp/x64/filterd QT_QPA_PLATFORM=offscreen \
  "$VB_BIN_DIR/tst_flowlive"

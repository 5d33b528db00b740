#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# filterd next to nethogs on the same transfers, in one run (needs root, iperf3 and nethogs):
#  - RUNS 10 s iperf3 TCP transfers between two network namespaces of our own, each measured
#    at once by filterd (read once a second, as the ball reads it) and by nethogs in trace
#    mode; per run: the bytes iperf3 sent, each tool's figure for the iperf3 client and its
#    error, and each tool's CPU over the transfer in % of one core;
#  - the reply time of a legitimate read-write client (a whole `vb_flowctl mode`: connect,
#    hello, one request) while HOSTILE connections to the read-only socket are held by an
#    ordinary user, against the same client on an idle service.
# Usage: bench/filter_reply/side_by_side.sh [build dir] [RUNS] [HOSTILE]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
RUNS=${2:-3}
HOSTILE=${3:-3000}
FILTERD=$build/bin/wfp/x64/filterd
CTL=$build/bin/vb_flowctl
for tool in iperf3 nethogs python3 "$FILTERD" "$CTL"; do
    command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "needs root"; exit 1; }

T=$(mktemp -d /tmp/vbsbs.XXXXXX)
chmod 755 "$T"
NSA=vbsa$$
NSB=vbsb$$
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    ip netns del "$NSA" 2>/dev/null
    ip netns del "$NSB" 2>/dev/null
    rm -rf "$T"
}
trap cleanup EXIT

ip netns add "$NSA" && ip netns add "$NSB" || exit 1
ip -n "$NSA" link add va type veth peer name vb netns "$NSB"
ip -n "$NSA" addr add 10.78.0.1/24 dev va
ip -n "$NSB" addr add 10.78.0.2/24 dev vb
for ns in "$NSA" "$NSB"; do ip -n "$ns" link set lo up; done
ip -n "$NSA" link set va up
ip -n "$NSB" link set vb up
# nethogs watches only a running device: wait for the carrier.
for i in $(seq 50); do ip -n "$NSB" link show vb | grep -q LOWER_UP && break; sleep 0.1; done

# ticks PID: user + system clock ticks the process has used.
ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# wait_file FILE PATTERN: polls at most 15 s.
wait_file() {
    local i
    for i in $(seq 150); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

"$FILTERD" --socket-dir "$T/sock" --state-dir "$T/state" 2>"$T/filterd.log" &
FD=$!
PIDS+=("$FD")
wait_file "$T/filterd.log" "filterd: ready" || { echo "filterd did not start:"; cat "$T/filterd.log"; exit 1; }

echo "run  iperf3_sent  filterd_out  filterd_err%  nethogs_out  nethogs_err%  filterd_cpu%  nethogs_cpu%"
for run in $(seq "$RUNS"); do
    ip netns exec "$NSA" iperf3 -s -1 -p 5201 >/dev/null 2>&1 &
    PIDS+=($!)
    sleep 0.3 # iperf3 says nothing when it listens; a connect retry below covers a slow start
    ip netns exec "$NSB" stdbuf -oL nethogs -t -v 2 -d 1 vb >"$T/nethogs.txt" 2>"$T/nethogs.err" &
    NH=$!
    PIDS+=("$NH")
    # Capturing once its packet socket is open in the namespace.
    for i in $(seq 150); do
        [ "$(wc -l <"/proc/$NH/net/packet" 2>/dev/null)" -gt 1 ] 2>/dev/null && break
        sleep 0.1
    done
    "$CTL" "$T/sock" watch 14 >/dev/null &
    W=$!
    PIDS+=("$W")
    f0=$(ticks "$FD")
    n0=$(ticks "$NH")
    t0=$(now_ms)
    ip netns exec "$NSB" iperf3 -c 10.78.0.1 -p 5201 -t 10 -J --connect-timeout 3000 >"$T/iperf.json" &
    IC=$!
    wait "$IC"
    t1=$(now_ms)
    f1=$(ticks "$FD")
    n1=$(ticks "$NH")
    sleep 2 # nethogs prints once a second: let it print the end of the transfer
    sent=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["end"]["sum_sent"]["bytes"])' "$T/iperf.json")
    fout=$("$CTL" "$T/sock" sums | sed -n "s/^pid=$IC .* out=\([0-9]*\).*/\1/p" | head -1)
    # Trace lines: "program/pid/uid<TAB>sent<TAB>received"; with -v 2 in bytes, running totals.
    nout=$(awk -F'\t' -v p="/$IC/" 'index($1, p) { v = $2 } END { printf "%.0f", v }' "$T/nethogs.txt")
    [ -s "$T/nethogs.err" ] && sed "s/^/nethogs: /" "$T/nethogs.err" | head -3 >&2
    kill "$NH" "$W" 2>/dev/null
    wait "$NH" "$W" 2>/dev/null
    awk -v run="$run" -v s="$sent" -v f="${fout:-0}" -v n="${nout:-0}" -v fc=$((f1 - f0)) \
        -v nc=$((n1 - n0)) -v hz="$hz" -v ms=$((t1 - t0)) 'BEGIN {
        printf "%-4d %12.0f %12.0f %12.3f %12.0f %12.3f %13.2f %13.2f\n", run, s, f, (f - s) * 100 / s,
               n, (n - s) * 100 / s, fc * 100000 / hz / ms, nc * 100000 / hz / ms }'
done

# Reply time of a legitimate client: median of 21 whole requests.
reply_ms() {
    local i a b
    for i in $(seq 21); do
        a=$(date +%s%N)
        "$CTL" "$T/sock" mode >"$T/mode.txt" 2>&1
        b=$(date +%s%N)
        echo "$(((b - a) / 1000)) $(cat "$T/mode.txt")"
    done | sort -n | sed -n 11p
}
echo "idle service: reply_us mode = $(reply_ms)"
# The hostile user: HOSTILE connections to the read-only socket, held until stdin closes.
mkfifo "$T/hold"
cat >"$T/hold.py" <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[2])):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.settimeout(1)
    try:
        s.connect(sys.argv[1])
        held.append(s)
    except OSError:
        s.close()
print("held=%d" % len(held), flush=True)
sys.stdin.read()
EOF
# The descriptor limit is raised as root, then the ordinary user takes over.
prlimit --nofile=$((HOSTILE + 64)) -- setpriv --reuid=65534 --regid=65534 --clear-groups \
    /usr/bin/python3 "$T/hold.py" "$T/sock/readonly" "$HOSTILE" <"$T/hold" >"$T/hostile.txt" 2>&1 &
HP=$!
PIDS+=("$HP")
exec 9>"$T/hold"
for i in $(seq 600); do grep -q "held=" "$T/hostile.txt" && break; sleep 0.1; done
# It holds its connections until our end of the fifo closes.
echo "with $(cat "$T/hostile.txt") hostile connections: reply_us mode = $(reply_ms)"
exec 9>&-
wait "$HP" 2>/dev/null
echo "filterd still running: $(kill -0 "$FD" 2>/dev/null && echo yes || echo no)"

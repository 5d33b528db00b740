# SPDX-License-Identifier: GPL-3.0-or-later
# Shared set-up of the filter service's network tests, sourced by netns_traffic.sh: two network
# namespaces of our own joined by a veth pair, the service's sockets in a private folder, and
# the helpers the scenarios check with. Everything started here is stopped by pid, and the
# namespaces and the folder are removed, however the test ends.
set -u
B=${VB_BIN_DIR:?}
FILTERD=$B/wfp/x64/filterd
CTL=$B/vb_flowctl
TGEN=$B/vb_tgen
POKE=$B/vb_filterpoke
[ "$(id -u)" = 0 ] || { echo "FAIL needs root"; exit 1; }
T=$(mktemp -d /tmp/vbfilterd.XXXXXX)
chmod 755 "$T"
SOCK=$T/sock
NSA=vbfa$$
NSB=vbfb$$
FD_PID=
PIDS=()
fails=0

# Extra clean-up a scenario registers (run first, e.g. to release a stopped process).
ON_EXIT=
cleanup() {
    [ -n "$ON_EXIT" ] && eval "$ON_EXIT"
    [ -n "$FD_PID" ] && kill -CONT "$FD_PID" 2>/dev/null
    [ -n "$FD_PID" ] && kill "$FD_PID" 2>/dev/null
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    ip netns del "$NSA" 2>/dev/null
    ip netns del "$NSB" 2>/dev/null
    rm -rf "$T"
}
trap cleanup EXIT

# check DESCRIPTION COMMAND...: runs the command as given and counts a failure.
check() {
    local what=$1
    shift
    if "$@"; then echo "PASS $what"; else echo "FAIL $what"; fails=$((fails + 1)); fi
}
# eventually DESCRIPTION COMMAND...: the same, for a figure that settles within 5 s.
eventually() {
    local what=$1
    shift
    if wait_for "$@"; then echo "PASS $what"; else echo "FAIL $what"; fails=$((fails + 1)); fi
}
# wait_up_to SECONDS COMMAND...: polls the command, at most that long.
wait_up_to() {
    local n=$(($1 * 10)) i
    shift
    for i in $(seq "$n"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
# wait_for COMMAND...: polls the command, at most 5 s.
wait_for() {
    local i
    for i in $(seq 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
finish() {
    echo "fails=$fails"
    [ "$fails" = 0 ]
}

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" | head -1; }
# Reads the per-process sums and prints FIELD of PID ("" when the process is not listed).
sum_of() { "$CTL" "$SOCK" sums | grep "^pid=$1 " | sed -e 's/^/x /' | field "$2"; }
# within A B: A is within 1 % of B.
within() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= b / 100) }'; }
# sum_within PID FIELD VALUE: the process's FIELD is within 1 % of VALUE.
sum_within() { within "$(sum_of "$1" "$2")" "$3"; }
# sum_is PID FIELD VALUE: exactly.
sum_is() { [ "$(sum_of "$1" "$2")" = "$3" ]; }
# says EXPECTED COMMAND...: the command prints exactly EXPECTED.
says() {
    local want=$1
    shift
    [ "$("$@")" = "$want" ]
}
in_file() { grep -Eqs "$1" "$2"; }
# after_line MARK PATTERN FILE: PATTERN occurs on or after the first line matching MARK.
after_line() { sed -n "/$1/,\$p" "$3" | grep -Eq "$2"; }
not() { ! "$@"; }
socket_up() { [ -S "$SOCK/readonly" ]; }
# Descriptors and CPU ticks (user + system) of a process.
fd_count() { ls "/proc/$1/fd" | wc -l; }
# The service's descriptors, counted at each call.
fds_at_most() { [ "$(fd_count "$FD_PID")" -le "$1" ]; }
fds_at_least() { [ "$(fd_count "$FD_PID")" -ge "$1" ]; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# The sockets of a killed service are still there: wait for this start's own ready line.
starts() { grep -c "filterd: ready" "$T/filterd.log" 2>/dev/null; }
started_after() { [ "$(starts)" -gt "$1" ] && socket_up; }
start_filterd() {
    local before
    before=$(starts)
    "$FILTERD" --socket-dir "$SOCK" --state-dir "$T/state" "$@" 2>>"$T/filterd.log" &
    FD_PID=$!
    wait_for started_after "${before:-0}"
}
stop_filterd() {
    [ -n "$FD_PID" ] && kill "$1" "$FD_PID" 2>/dev/null
    wait "$FD_PID" 2>/dev/null
    FD_PID=
}
# The attachments of the running filterd, from its start-up line.
our_links() { sed -n 's/.*mechanism=cgroup-bpf .* links=\([0-9,]*\).*/\1/p' "$T/filterd.log" | tail -1 | tr , ' '; }
links_gone() {
    local id
    [ -n "$1" ] || return 1
    for id in $1; do bpftool link show id "$id" >/dev/null 2>&1 && return 1; done
    return 0
}

ip netns add "$NSA" && ip netns add "$NSB" || { echo "FAIL netns"; exit 1; }
ip -n "$NSA" link add va type veth peer name vb netns "$NSB"
ip -n "$NSA" addr add 10.77.0.1/24 dev va
ip -n "$NSB" addr add 10.77.0.2/24 dev vb
ip -n "$NSA" addr add fd77::1/64 dev va nodad
ip -n "$NSB" addr add fd77::2/64 dev vb nodad
for ns in "$NSA" "$NSB"; do ip -n "$ns" link set lo up; done
ip -n "$NSA" link set va up
ip -n "$NSB" link set vb up
# Plain words, not functions: "$!" must be the pid of the traffic process itself, which
# "ip netns exec" becomes.
A="ip netns exec $NSA"
Bn="ip netns exec $NSB"

#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The filter service for real: two network namespaces of our own joined by a veth pair, a
# server in one and clients in the other, known byte counts over TCP and UDP, read back
# through PSFilter; blocking by image path; the read-only socket; hostile peers; the service
# killed and started again; the sock_diag fallback. Needs root. Everything this test starts is
# stopped by pid, and its namespaces are removed, however it ends.
set -u
B=${VB_BIN_DIR:?}
FILTERD=$B/wfp/x64/filterd
CTL=$B/vb_flowctl
TGEN=$B/vb_tgen
POKE=$B/vb_filterpoke
T=$(mktemp -d /tmp/vbfilterd.XXXXXX)
chmod 755 "$T"
SOCK=$T/sock
NSA=vbfa$$
NSB=vbfb$$
FD_PID=
PIDS=()
fails=0

cleanup() {
    [ -n "$FD_PID" ] && kill "$FD_PID" 2>/dev/null
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    ip netns del "$NSA" 2>/dev/null
    ip netns del "$NSB" 2>/dev/null
    rm -rf "$T"
}
trap cleanup EXIT

check() { if eval "$2"; then echo "PASS $1"; else echo "FAIL $1"; fails=$((fails + 1)); fi; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" | head -1; }
# Reads the per-process sums and prints FIELD of PID ("" when the process is not listed).
sum_of() { "$CTL" "$SOCK" sums | grep "^pid=$1 " | sed -e 's/^/x /' | field "$2"; }
# within A B: A is within 1 % of B.
within() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= b / 100) }'; }
wait_for() { for _ in $(seq 50); do eval "$1" && return 0; sleep 0.1; done; return 1; }
start_filterd() {
    "$FILTERD" --socket-dir "$SOCK" "$@" 2>>"$T/filterd.log" &
    FD_PID=$!
    wait_for '[ -S $SOCK/readonly ]'
}
stop_filterd() {
    [ -n "$FD_PID" ] && kill "$1" "$FD_PID" 2>/dev/null
    wait "$FD_PID" 2>/dev/null
    FD_PID=
}

[ "$(id -u)" = 0 ] || { echo "FAIL needs root"; exit 1; }
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

# The attachments of the running filterd, from its start-up line.
our_links() { sed -n 's/.*mechanism=cgroup-bpf .* links=\([0-9,]*\).*/\1/p' "$T/filterd.log" | tail -1 | tr , ' '; }
links_gone() { for id in $1; do bpftool link show id "$id" >/dev/null 2>&1 && return 1; done; return 0; }
start_filterd
check "filterd is up with cgroup BPF" 'grep -q "mechanism=cgroup-bpf" $T/filterd.log'
LINKS=$(our_links)
check "its ten programs are attached" '[ "$(echo $LINKS | wc -w)" = 10 ] && ! links_gone "$LINKS"'
check "root gets the read-write socket (mode 2)" '[ "$("$CTL" "$SOCK" mode)" = mode=2 ]'
"$FILTERD" --socket-dir "$SOCK" 2>"$T/second.log"; rc=$?
check "a second filterd on the same sockets refuses to start" '[ $rc = 1 ] && grep -q "another filter service" $T/second.log'
check "and leaves the first one serving" '[ "$("$CTL" "$SOCK" mode)" = mode=2 ]'
setpriv --reuid=65534 --regid=65534 --clear-groups "$FILTERD" --socket-dir "$T/x" 2>/dev/null; rc=$?
check "filterd refuses to run without root" '[ $rc = 1 ]'
"$FILTERD" --bogus 2>/dev/null; rc=$?
check "filterd refuses unknown options" '[ $rc = 2 ]'

echo "== a short TCP exchange, opened and closed between two reads"
$A "$TGEN" tcp-server 5001 250000 >"$T/s1.txt" & S1=$!; PIDS+=($S1)
wait_for 'grep -q listening $T/s1.txt'
$Bn "$TGEN" tcp-client 10.77.0.1 5001 1000000 250000 0 >"$T/c1.txt" & C1=$!; PIDS+=($C1)
wait "$C1" "$S1"
check "the exchange itself worked" 'grep -q "received=250000" $T/c1.txt && grep -q "received=1000000" $T/s1.txt'
check "client out is 1000000 within 1 %" 'within "$(sum_of $C1 out)" 1000000'
check "client in is 250000 within 1 %" 'within "$(sum_of $C1 in)" 250000'
check "server in is 1000000 within 1 %" 'within "$(sum_of $S1 in)" 1000000'
check "server out is 250000 within 1 %" 'within "$(sum_of $S1 out)" 250000'
check "closed connections live on as history (no live count)" '[ "$(sum_of $C1 count)" = 0 ] && [ "$(sum_of $S1 count)" = 0 ]'
check "the dead row is named by its image" '"$CTL" "$SOCK" rows | grep "pid=$C1 " | grep -q "dead=1 path=$TGEN"'

echo "== a long-lived TCP connection, read while open and after it closed"
$A "$TGEN" tcp-answer 5002 700000 300000 >"$T/s2.txt" & S2=$!; PIDS+=($S2)
wait_for 'grep -q listening $T/s2.txt'
$Bn "$TGEN" tcp-hold 10.77.0.1 5002 700000 300000 2500 >"$T/c2.txt" & C2=$!; PIDS+=($C2)
wait_for 'grep -q "holding" $T/c2.txt'
check "open connection is listed live" '[ "$(sum_of $C2 count)" = 1 ]'
check "live client out is 700000 within 1 %" 'within "$(sum_of $C2 out)" 700000'
check "live client in is 300000 within 1 %" 'within "$(sum_of $C2 in)" 300000'
# Identity: local address and port, remote port and address, protocol; addresses as their
# network-order bytes read little-endian (10.77.0.x is 0x0x004d0a).
conn=$("$CTL" "$SOCK" conns | grep "^conn pid=$C2 " | sed 's/^/x /')
check "the connection's identity names its addresses, ports and protocol" '[ "$(echo "$conn" | field w1)" = $((0x02004d0a)) ] && [ "$(echo "$conn" | field h2)" = 5002 ] && [ "$(echo "$conn" | field w2)" = $((0x01004d0a)) ] && [ "$(echo "$conn" | field h3)" = 6 ] && [ "$(echo "$conn" | field h1)" -gt 1023 ]'
wait "$C2" "$S2"
check "after close the history keeps client out 700000" 'within "$(sum_of $C2 out)" 700000 && [ "$(sum_of $C2 count)" = 0 ]'

echo "== UDP datagrams"
$A "$TGEN" udp-server 5003 50 700 >"$T/us.txt" & US=$!; PIDS+=($US)
wait_for 'grep -q listening $T/us.txt'
$Bn "$TGEN" udp-client 10.77.0.1 5003 50 1000 >"$T/uc.txt" & UC=$!; PIDS+=($UC)
wait "$UC" "$US"
check "the datagrams went through" 'grep -q "received=35000" $T/uc.txt'
check "udp client out is 50000 within 1 %" 'within "$(sum_of $UC out)" 50000'
check "udp client in is 35000 within 1 %" 'within "$(sum_of $UC in)" 35000'
check "udp server in is 50000 within 1 %" 'within "$(sum_of $US in)" 50000'

echo "== IPv6"
$A "$TGEN" tcp-answer 5006 400000 100000 >"$T/s6.txt" & S6=$!; PIDS+=($S6)
wait_for 'grep -q listening $T/s6.txt'
$Bn "$TGEN" tcp-hold fd77::1 5006 400000 100000 0 >"$T/c6.txt" & C6=$!; PIDS+=($C6)
wait "$C6" "$S6"
check "the IPv6 exchange worked" 'grep -q "received=100000" $T/c6.txt'
check "tcp6 client out is 400000 within 1 %" 'within "$(sum_of $C6 out)" 400000'
check "tcp6 server in is 400000 within 1 %" 'within "$(sum_of $S6 in)" 400000'
$A "$TGEN" udp-server 5007 20 500 >"$T/us6.txt" & US6=$!; PIDS+=($US6)
wait_for 'grep -q listening $T/us6.txt'
$Bn "$TGEN" udp-client fd77::1 5007 20 800 >"$T/uc6.txt" & UC6=$!; PIDS+=($UC6)
wait "$UC6" "$US6"
check "udp6 client out is 16000 within 1 %" 'within "$(sum_of $UC6 out)" 16000'
check "udp6 client in is 10000 within 1 %" 'within "$(sum_of $UC6 in)" 10000'

echo "== blocking by image path"
cp "$TGEN" "$T/blocked-tgen"
$A "$TGEN" tcp-sink 6000 12 >"$T/sink.txt" & SINK=$!; PIDS+=($SINK)
wait_for 'grep -q listening $T/sink.txt'
$Bn "$T/blocked-tgen" tcp-loop 10.77.0.1 6000 2000 50 100 >"$T/blocked.txt" & BL=$!; PIDS+=($BL)
$Bn "$TGEN" tcp-loop 10.77.0.1 6000 2000 50 100 >"$T/free.txt" & FR=$!; PIDS+=($FR)
wait_for 'grep -q "step=5 send=ok" $T/blocked.txt'
check "block request accepted" '[ "$("$CTL" "$SOCK" block "$T/blocked-tgen")" = block=1 ]'
sleep 0.5
$Bn "$T/blocked-tgen" tcp-client 10.77.0.1 6000 10 0 0 >"$T/late.txt" 2>&1
check "a process started after the block cannot connect" 'grep -q "Operation not permitted" $T/late.txt'
sleep 1
check "unblock request accepted" '[ "$("$CTL" "$SOCK" unblock "$T/blocked-tgen")" = unblock=1 ]'
wait "$BL" "$FR"
check "the open connection was cut" 'grep -Eq "send=-1 (Software caused connection abort|Connection reset|Broken pipe)" $T/blocked.txt'
check "new connects failed while blocked" 'grep -q "connect=-1 Operation not permitted" $T/blocked.txt || grep -q "socket=-1 Operation not permitted" $T/blocked.txt'
check "after unblock it connects and sends again" 'sed -n "/reconnected/,\$p" $T/blocked.txt | grep -q "send=ok"'
check "the unrelated process sent every step" '[ "$(grep -c "send=ok" $T/free.txt)" = 50 ]'
$Bn "$T/blocked-tgen" tcp-client 10.77.0.1 6000 10 0 0 >"$T/after.txt" 2>&1
check "a new process of the unblocked image connects" '! grep -q "connect=-1" $T/after.txt'
check "blocking a missing file fails" '[ "$("$CTL" "$SOCK" block "$T/no-such-file")" = block=0 ]'
kill "$SINK" 2>/dev/null

echo "== the read-only socket"
NOBODY="setpriv --reuid=65534 --regid=65534 --clear-groups"
check "another user gets access mode 1" '[ "$($NOBODY "$CTL" "$SOCK" mode)" = mode=1 ]'
check "and may read the lists" '$NOBODY "$CTL" "$SOCK" sums | grep -q "^query=1"'
check "but block is refused" '[ "$($NOBODY "$CTL" "$SOCK" block "$T/blocked-tgen")" = block=0 ]'
ADMIN_GID=$(getent group sudo | cut -d: -f3)
ADMIN="setpriv --reuid=65534 --regid=65534 --groups=$ADMIN_GID"
check "a member of the administrators' group gets mode 2" '[ "$($ADMIN "$CTL" "$SOCK" mode)" = mode=2 ]'
check "whose block request is served" '[ "$($ADMIN "$CTL" "$SOCK" unblock "$T/blocked-tgen")" = unblock=1 ]'
OTHER="setpriv --reuid=65534 --regid=$ADMIN_GID --clear-groups"
check "primary group membership counts too" '[ "$($OTHER "$CTL" "$SOCK" mode)" = mode=2 ]'
# Even with the file opened up, the service itself checks who connects.
chmod 666 "$SOCK/control"
check "with the socket file open to all, another user still gets mode 1" '[ "$($NOBODY "$CTL" "$SOCK" mode)" = mode=1 ]'
chmod 660 "$SOCK/control"

echo "== hostile peers"
"$POKE" "$SOCK" 100000 >"$T/poke.txt"
check "100000 malformed requests answered" 'grep -q "^sent=100000 " $T/poke.txt'
check "filterd still serves afterwards" '[ "$("$CTL" "$SOCK" mode)" = mode=2 ] && kill -0 $FD_PID'

echo "== filterd killed and started again"
"$CTL" "$SOCK" watch 20 >"$T/watch.txt" & W=$!; PIDS+=($W)
wait_for 'grep -q "read=1 " $T/watch.txt'
stop_filterd -KILL
check "the kernel programs went with it" '[ -n "$LINKS" ] && links_gone "$LINKS"'
check "a new reader finds no device (mode 0)" '[ "$("$CTL" "$SOCK" mode)" = mode=0 ]'
sleep 1.5
start_filterd
LINKS=$(our_links)
wait "$W"
check "the held filter dropped to mode 0 without crashing" 'grep -q "ok=0 mode=0" $T/watch.txt'
check "and came back to mode 2 once filterd was back" 'sed -n "/mode=0/,\$p" $T/watch.txt | grep -q "ok=1 mode=2"'
$A "$TGEN" tcp-server 5004 1000 >"$T/s4.txt" & S4=$!; PIDS+=($S4)
wait_for 'grep -q listening $T/s4.txt'
$Bn "$TGEN" tcp-client 10.77.0.1 5004 40000 1000 0 >/dev/null & C4=$!; PIDS+=($C4)
wait "$C4" "$S4"
check "traffic is measured again" 'within "$(sum_of $C4 out)" 40000'
stop_filterd -TERM
check "a stopped filterd removes its kernel programs" '[ -n "$LINKS" ] && links_gone "$LINKS"'

echo "== sock_diag fallback (TCP only)"
start_filterd --mechanism diag
check "filterd runs on sock_diag" 'grep -q "mechanism=sock-diag" $T/filterd.log'
$A "$TGEN" tcp-answer 5005 600000 200000 >"$T/s5.txt" & S5=$!; PIDS+=($S5)
wait_for 'grep -q listening $T/s5.txt'
$Bn "$TGEN" tcp-hold 10.77.0.1 5005 600000 200000 1500 >"$T/c5.txt" & C5=$!; PIDS+=($C5)
wait_for 'grep -q "holding" $T/c5.txt'
sleep 0.3
check "fallback: live client out 600000 within 1 %" 'within "$(sum_of $C5 out)" 600000'
check "fallback: live client in 200000 within 1 %" 'within "$(sum_of $C5 in)" 200000'
wait "$C5" "$S5"
sleep 0.5
check "fallback: closed connection kept in history" 'within "$(sum_of $C5 out)" 600000 && [ "$(sum_of $C5 count)" = 0 ]'
# Without BPF a blocked process's sockets are cut as they show up.
$A "$TGEN" tcp-sink 6001 8 >"$T/sink2.txt" & SINK2=$!; PIDS+=($SINK2)
wait_for 'grep -q listening $T/sink2.txt'
$Bn "$T/blocked-tgen" tcp-loop 10.77.0.1 6001 2000 40 100 >"$T/fb.txt" & FB=$!; PIDS+=($FB)
$Bn "$TGEN" tcp-loop 10.77.0.1 6001 2000 40 100 >"$T/ff.txt" & FF=$!; PIDS+=($FF)
wait_for 'grep -q "step=3 send=ok" $T/fb.txt'
check "fallback: block request accepted" '[ "$("$CTL" "$SOCK" block "$T/blocked-tgen")" = block=1 ]'
sleep 1.5
check "fallback: unblock request accepted" '[ "$("$CTL" "$SOCK" unblock "$T/blocked-tgen")" = unblock=1 ]'
wait "$FB" "$FF"
check "fallback: the blocked connection was cut" 'grep -Eq "send=-1" $T/fb.txt'
check "fallback: after unblock it sends again" 'sed -n "/reconnected/,\$p" $T/fb.txt | grep -q "send=ok"'
check "fallback: the unrelated process sent every step" '[ "$(grep -c "send=ok" $T/ff.txt)" = 40 ]'
kill "$SINK2" 2>/dev/null
stop_filterd -TERM

check "filterd logged no sanitizer or runtime error" '! grep -Eq "Sanitizer|runtime error" $T/filterd.log'

echo "fails=$fails"
[ "$fails" = 0 ]

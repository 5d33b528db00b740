// SPDX-License-Identifier: GPL-2.0
/* In-kernel half of the filter service, attached at the cgroup2 root so that it sees every
 * socket of every network namespace.
 *
 * Accounting: each socket's owner (the process that created, connected, bound, sent on or read
 * from it last) lives in socket storage, cloned to accepted children so a server's connections
 * belong to the server until a worker takes them over. A process is named by its tgid and its
 * start time, so a reused pid never inherits a dead process's bytes. Payload bytes are counted per socket cookie while the
 * socket is open; when the socket is released its counters move into the owner's history in
 * the same program, so nothing is lost between two reads, and bytes that still flow after the
 * release (a TCP send buffer draining) go straight to the history. When another process takes
 * a shared socket over, what the previous one moved goes to its history first, so each
 * process keeps its own bytes instead of the whole count jumping between them.
 *
 * The mover of TCP bytes (a socket shared across fork, passed over a Unix socket, or accepted
 * by one process and served by another): kprobes and fentry are missing or refused on the
 * kernels we run on, and the per-call socket tracepoints are newer than 6.1. What both 6.1 and
 * later kernels give is the copy to user space (tracepoint skb_copy_datagram_iovec, in the
 * reader's own context) and, for sending, the socket lock: a TCP segment leaves in the sender's
 * context exactly while a process holds the socket locked (sendmsg, or the backlog it works
 * off on release); otherwise it leaves from a timer or softirq and belongs to the last mover.
 * So received TCP bytes are booked when a process copies them, sent ones by the lock holder.
 * Received bytes nobody ever copies (spliced, read zero-copy, or unread at close) are booked to
 * the last mover when the socket is released, so the totals stay the network's.
 *
 * Blocking: by executable (inode, device) for new sockets, connects, sends and binds, checked
 * against the calling task itself; and by owner for packets of sockets that are already open.
 */
#include "vmlinux.h"
#include <bpf/bpf_helpers.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_core_read.h>
#include <bpf/bpf_tracing.h>

#define AF_INET 2
#define AF_INET6 10
#define TCP_LISTEN 10

struct owner {
	__u32 tgid;
	__u32 released;
	__u64 start; /* the process's start, boot-time nanoseconds; 0 when unknown */
};

struct exe_key {
	__u64 ino;
	__u32 dev;
	__u32 pad;
};

struct sock_rec {
	__u32 tgid;
	__u16 family;
	__u16 proto;
	__u32 laddr;
	__u32 raddr;
	__u16 lport;
	__u16 rport;
	__u32 pad;
	__u64 rx;
	__u64 tx;
	__u64 start;
	__u64 wire_rx; /* TCP payload received on the wire, while reads are booked as copied */
	__u64 copied;  /* TCP payload copied to user space over the socket's life */
	__u32 copied_end; /* sequence number after the last byte booked as copied */
	__u32 copy_seen;
};

/* One entry per pid: a newer process under the pid replaces a dead one's entry, so churn never
 * sums two processes' bytes nor fills the table with the dead. */
struct hist {
	__u64 start;
	__u64 rx;
	__u64 tx;
};

struct {
	__uint(type, BPF_MAP_TYPE_HASH);
	__uint(max_entries, 65536);
	__uint(map_flags, BPF_F_NO_PREALLOC);
	__type(key, __u64);
	__type(value, struct sock_rec);
} socks SEC(".maps");

struct {
	__uint(type, BPF_MAP_TYPE_HASH);
	__uint(max_entries, 32768);
	__uint(map_flags, BPF_F_NO_PREALLOC);
	__type(key, __u32);
	__type(value, struct hist);
} history SEC(".maps");

struct {
	__uint(type, BPF_MAP_TYPE_SK_STORAGE);
	__uint(map_flags, BPF_F_NO_PREALLOC | BPF_F_CLONE);
	__type(key, int);
	__type(value, struct owner);
} sk_owner SEC(".maps");

/* Owners of sockets that existed before the programs were attached, seeded from a dump. */
struct {
	__uint(type, BPF_MAP_TYPE_LRU_HASH);
	__uint(max_entries, 65536);
	__type(key, __u64);
	__type(value, __u32);
} cookie_owner SEC(".maps");

struct {
	__uint(type, BPF_MAP_TYPE_HASH);
	__uint(max_entries, 1024);
	__type(key, struct exe_key);
	__type(value, __u8);
} blocked_exe SEC(".maps");

struct {
	__uint(type, BPF_MAP_TYPE_HASH);
	__uint(max_entries, 16384);
	__type(key, __u32);
	__type(value, __u8);
} blocked_tgid SEC(".maps");

__u64 denied_calls, dropped_packets, unowned_packets, lost_records;
/* Set by the loader once the copy tracepoint is attached; until then TCP reads count on the
 * wire. */
__u32 copy_hook_on;

static __always_inline int task_blocked(__u32 tgid)
{
	if (bpf_map_lookup_elem(&blocked_tgid, &tgid))
		return 1;
	struct task_struct *t = bpf_get_current_task_btf();
	struct mm_struct *mm = t->mm;
	if (!mm)
		return 0;
	struct file *f = mm->exe_file;
	if (!f)
		return 0;
	struct exe_key k = {.ino = f->f_inode->i_ino, .dev = f->f_inode->i_sb->s_dev, .pad = 0};
	return bpf_map_lookup_elem(&blocked_exe, &k) != 0;
}

static __always_inline __u64 current_start(void)
{
	struct task_struct *t = bpf_get_current_task_btf();
	return t->group_leader->start_boottime;
}

static __always_inline void set_owner(struct bpf_sock *sk, __u32 tgid)
{
	struct owner *o = bpf_sk_storage_get(&sk_owner, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
	if (o && !o->released) {
		o->tgid = tgid;
		o->start = current_start();
	}
}

SEC("cgroup/sock_create")
int vb_sock_create(struct bpf_sock *sk)
{
	__u32 tgid = bpf_get_current_pid_tgid() >> 32;
	set_owner(sk, tgid);
	if (task_blocked(tgid)) {
		__sync_fetch_and_add(&denied_calls, 1);
		return 0;
	}
	return 1;
}

static __always_inline int addr_hook(struct bpf_sock_addr *ctx)
{
	__u32 tgid = bpf_get_current_pid_tgid() >> 32;
	if (ctx->sk)
		set_owner(ctx->sk, tgid);
	if (task_blocked(tgid)) {
		__sync_fetch_and_add(&denied_calls, 1);
		return 0;
	}
	return 1;
}

SEC("cgroup/connect4") int vb_connect4(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}
SEC("cgroup/connect6") int vb_connect6(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}
SEC("cgroup/sendmsg4") int vb_sendmsg4(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}
SEC("cgroup/sendmsg6") int vb_sendmsg6(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}
SEC("cgroup/bind4") int vb_bind4(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}
SEC("cgroup/bind6") int vb_bind6(struct bpf_sock_addr *ctx)
{
	return addr_hook(ctx);
}

static __always_inline void add_history(__u32 tgid, __u64 start, __u64 rx, __u64 tx)
{
	struct hist *h = bpf_map_lookup_elem(&history, &tgid);
	if (!h) {
		struct hist z = {.start = start};
		bpf_map_update_elem(&history, &tgid, &z, BPF_NOEXIST);
		h = bpf_map_lookup_elem(&history, &tgid);
		if (!h) {
			__sync_fetch_and_add(&lost_records, 1);
			return;
		}
	}
	/* Start 0 is a socket seeded at start-up, whose owner's start is unknown: taken to be the
	 * process the entry stands for. A later start means the pid was reused, so the earlier
	 * holder is dead: its row ends here. Late bytes of a dead holder (a send buffer draining
	 * after a newer process took the pid) belong to no row any more. */
	__u64 have = h->start;
	if (start && have != start) {
		if (have && start < have)
			return;
		h->start = start;
		if (have) {
			__sync_lock_test_and_set(&h->rx, 0);
			__sync_lock_test_and_set(&h->tx, 0);
		}
	}
	__sync_fetch_and_add(&h->rx, rx);
	__sync_fetch_and_add(&h->tx, tx);
}

/* Moves a socket's record into its owner's history. The packet path and the release may both
 * try at once; only the one whose delete succeeds books the bytes. */
static __always_inline void retire(__u64 cookie)
{
	struct sock_rec *r = bpf_map_lookup_elem(&socks, &cookie);
	if (!r)
		return;
	__u32 tgid = r->tgid;
	__u64 start = r->start, rx = r->rx, tx = r->tx;
	if (r->wire_rx > r->copied)
		rx += r->wire_rx - r->copied;
	if (bpf_map_delete_elem(&socks, &cookie) == 0)
		add_history(tgid, start, rx, tx);
}

SEC("cgroup/sock_release")
int vb_sock_release(struct bpf_sock *sk)
{
	__u64 cookie = bpf_get_socket_cookie(sk);
	struct owner *o = bpf_sk_storage_get(&sk_owner, sk, 0, 0);
	struct sock_rec *r = bpf_map_lookup_elem(&socks, &cookie);
	if (o && r) {
		/* What still leaves or arrives after the release is the last mover's. */
		o->tgid = r->tgid;
		o->start = r->start;
	}
	if (o)
		__sync_fetch_and_add(&o->released, 1);
	retire(cookie);
	return 1;
}

/* A shared socket changed hands: the previous mover keeps what it moved. */
static __always_inline void hand_over(struct sock_rec *r, __u32 tgid, __u64 start)
{
	if (r->tgid == tgid && r->start == start)
		return;
	__u64 rx = __sync_lock_test_and_set(&r->rx, 0);
	__u64 tx = __sync_lock_test_and_set(&r->tx, 0);
	if (rx || tx)
		add_history(r->tgid, r->start, rx, tx);
	r->tgid = tgid;
	r->start = start;
}

/* Whether a process holds the socket locked, which makes the current task the one moving it. */
static __always_inline int tcp_locked_by_user(struct bpf_sock *sk)
{
	struct tcp_sock *tp = bpf_skc_to_tcp_sock(sk);
	return tp && tp->inet_conn.icsk_inet.sk.sk_lock.owned;
}

/* An IPv4 peer of a dual-stack socket keeps its IPv4 address; other IPv6 addresses are folded
 * into one word. */
static __always_inline __u32 fold6(const __u32 *a)
{
	if (a[0] == 0 && a[1] == 0 && a[2] == bpf_htonl(0xffff))
		return a[3];
	return a[0] ^ a[1] ^ a[2] ^ a[3];
}

/* Transport payload of a packet whose data starts at the IP header. */
static __always_inline __u32 payload_len(struct __sk_buff *skb)
{
	__u8 vihl;
	__u32 l3, l4 = 0, proto;
	if (bpf_skb_load_bytes(skb, 0, &vihl, 1))
		return 0;
	if ((vihl >> 4) == 4) {
		struct iphdr ip;
		if (bpf_skb_load_bytes(skb, 0, &ip, sizeof ip))
			return 0;
		l3 = ip.ihl * 4;
		proto = ip.protocol;
	} else {
		struct ipv6hdr ip6;
		if (bpf_skb_load_bytes(skb, 0, &ip6, sizeof ip6))
			return 0;
		l3 = sizeof ip6;
		proto = ip6.nexthdr;
	}
	if (proto == IPPROTO_TCP) {
		struct tcphdr th;
		if (bpf_skb_load_bytes(skb, l3, &th, sizeof th))
			return 0;
		l4 = th.doff * 4;
	} else if (proto == IPPROTO_UDP) {
		l4 = 8;
	} else {
		return 0;
	}
	return skb->len > l3 + l4 ? skb->len - l3 - l4 : 0;
}

static __always_inline int skb_hook(struct __sk_buff *skb, int egress)
{
	struct bpf_sock *sk = skb->sk;
	if (!sk)
		return 1;
	sk = bpf_sk_fullsock(sk);
	if (!sk)
		return 1;
	if (sk->protocol != IPPROTO_TCP && sk->protocol != IPPROTO_UDP)
		return 1;
	__u64 cookie = bpf_get_socket_cookie(skb);
	__u32 tgid = 0, released = 0;
	__u64 start = 0;
	struct owner *o = bpf_sk_storage_get(&sk_owner, sk, 0, 0);
	if (o) {
		tgid = o->tgid;
		start = o->start;
		released = o->released;
	} else {
		__u32 *seeded = bpf_map_lookup_elem(&cookie_owner, &cookie);
		if (seeded) {
			tgid = *seeded;
			o = bpf_sk_storage_get(&sk_owner, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
			if (o)
				o->tgid = tgid;
		}
	}
	int mover = 0;
	if (egress && !released && sk->protocol == IPPROTO_TCP && tcp_locked_by_user(sk)) {
		mover = 1;
		tgid = bpf_get_current_pid_tgid() >> 32;
		start = current_start();
		if (!o)
			o = bpf_sk_storage_get(&sk_owner, sk, 0, BPF_SK_STORAGE_GET_F_CREATE);
		if (o && !o->released) {
			o->tgid = tgid;
			o->start = start;
		}
	}
	if (!tgid) {
		__sync_fetch_and_add(&unowned_packets, 1);
		return 1;
	}
	if (bpf_map_lookup_elem(&blocked_tgid, &tgid)) {
		__sync_fetch_and_add(&dropped_packets, 1);
		return 0;
	}
	__u64 len = payload_len(skb);
	if (released) {
		if (len)
			add_history(tgid, start, egress ? 0 : len, egress ? len : 0);
		return 1;
	}
	if (sk->state == TCP_LISTEN && sk->protocol == IPPROTO_TCP)
		return 1;
	struct sock_rec *r = bpf_map_lookup_elem(&socks, &cookie);
	if (!r) {
		struct sock_rec n = {};
		n.tgid = tgid;
		n.start = start;
		n.family = sk->family;
		n.proto = sk->protocol;
		bpf_map_update_elem(&socks, &cookie, &n, BPF_NOEXIST);
		/* Released while the record was being made: its release found nothing to retire, so
		 * retire it here, or it would stay behind as a live socket of a gone process. */
		if (o && __sync_fetch_and_add(&o->released, 0)) {
			retire(cookie);
			if (len)
				add_history(tgid, start, egress ? 0 : len, egress ? len : 0);
			return 1;
		}
		r = bpf_map_lookup_elem(&socks, &cookie);
		if (!r) {
			__sync_fetch_and_add(&lost_records, 1);
			return 1;
		}
	}
	/* TCP with reads booked as copied: the record names the last mover (a reader or a sender
	 * holding the lock); packets leaving from a timer or softirq are that mover's. */
	int tcp = sk->protocol == IPPROTO_TCP;
	if (tcp && copy_hook_on && !mover)
		tgid = r->tgid, start = r->start;
	else
		hand_over(r, tgid, start);
	if (!r->lport || !r->rport) {
		if (sk->family == AF_INET) {
			r->laddr = sk->src_ip4;
			r->raddr = sk->dst_ip4;
		} else {
			__u32 s6[4], d6[4];
			s6[0] = sk->src_ip6[0];
			s6[1] = sk->src_ip6[1];
			s6[2] = sk->src_ip6[2];
			s6[3] = sk->src_ip6[3];
			d6[0] = sk->dst_ip6[0];
			d6[1] = sk->dst_ip6[1];
			d6[2] = sk->dst_ip6[2];
			d6[3] = sk->dst_ip6[3];
			r->laddr = fold6(s6);
			r->raddr = fold6(d6);
		}
		r->lport = sk->src_port;
		r->rport = bpf_ntohs(sk->dst_port);
	}
	if (egress)
		__sync_fetch_and_add(&r->tx, len);
	else if (tcp && copy_hook_on)
		__sync_fetch_and_add(&r->wire_rx, len);
	else
		__sync_fetch_and_add(&r->rx, len);
	return 1;
}

SEC("cgroup_skb/egress") int vb_egress(struct __sk_buff *skb)
{
	return skb_hook(skb, 1);
}
SEC("cgroup_skb/ingress") int vb_ingress(struct __sk_buff *skb)
{
	return skb_hook(skb, 0);
}

/* A process copies received TCP bytes to itself. A peek copies bytes that a later read copies
 * again: only bytes past the last one booked count, so each byte is booked once. The socket is
 * reached through the packet only as a pointer helpers refuse on newer kernels, so its fields are
 * read as plain memory and the socket's record, not its storage, names the mover. */
SEC("tp_btf/skb_copy_datagram_iovec")
int BPF_PROG(vb_copied, const struct sk_buff *skb, int len)
{
	if (len <= 0)
		return 0;
	struct sock *sk = skb->sk;
	if (!sk || sk->sk_protocol != IPPROTO_TCP)
		return 0;
	__u16 family = sk->__sk_common.skc_family;
	if (family != AF_INET && family != AF_INET6)
		return 0;
	/* Made by the packet hooks at the socket's first packet; none yet means no record. */
	__u64 cookie = BPF_CORE_READ(sk, __sk_common.skc_cookie.counter);
	if (!cookie)
		return 0;
	__u32 from = BPF_CORE_READ((struct tcp_sock *)sk, copied_seq);
	__u32 tgid = bpf_get_current_pid_tgid() >> 32;
	__u64 start = current_start();
	struct sock_rec *r = bpf_map_lookup_elem(&socks, &cookie);
	if (!r)
		return 0;
	if (!r->copy_seen) {
		r->copy_seen = 1;
		r->copied_end = from;
	}
	__s32 fresh = (__s32)(from + (__u32)len - r->copied_end);
	if (fresh <= 0)
		return 0;
	r->copied_end = from + (__u32)len;
	hand_over(r, tgid, start);
	__sync_fetch_and_add(&r->rx, (__u64)fresh);
	__sync_fetch_and_add(&r->copied, (__u64)fresh);
	return 0;
}

char LICENSE[] SEC("license") = "GPL";

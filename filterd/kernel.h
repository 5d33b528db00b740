/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The service's kernel interfaces with a plain C face: the cgroup BPF programs (through their
 * libbpf skeleton) and sock_diag netlink. Kept in C because the kernel's netlink macros and the
 * generated skeleton are C. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- cgroup BPF ---- */
struct vb_bpf;

struct vb_bpf_sock
{
    uint64_t cookie;
    uint32_t tgid;
    uint16_t family, proto;
    uint32_t laddr, raddr;
    uint16_t lport, rport;
    uint64_t rx, tx;
    uint64_t start; /* the owner's start, boot-time nanoseconds; 0 when unknown */
};

/* Loads the programs and attaches them to the cgroup2 directory. tableSize (0: the built-in
 * sizes) bounds the socket, history and seeded-owner tables. NULL on failure, with a reason in
 * err. The attachments go away with the returned object or with the process. */
struct vb_bpf* vb_bpf_start(const char* cgroupDir, uint32_t tableSize, char* err, size_t errLength);
void vb_bpf_stop(struct vb_bpf* b);
int vb_bpf_attached(const struct vb_bpf* b);
/* The kernel's ids of the attachments, so an operator (or a test) can see them go. */
int vb_bpf_link_ids(const struct vb_bpf* b, uint32_t* ids, int max);
/* Live sockets, one call each (a cookie may come twice when the table changes meanwhile);
 * returns how many were reported. */
typedef void (*vb_bpf_sock_cb)(const struct vb_bpf_sock* s, void* ctx);
int vb_bpf_read_socks(struct vb_bpf* b, vb_bpf_sock_cb cb, void* ctx);
/* History entries of closed sockets, one per process (tgid and start time); returns how many
 * were reported. */
typedef void (*vb_bpf_hist_cb)(uint32_t tgid, uint64_t start, uint64_t rx, uint64_t tx, void* ctx);
int vb_bpf_read_history(struct vb_bpf* b, vb_bpf_hist_cb cb, void* ctx);
int vb_bpf_forget_history(struct vb_bpf* b, uint32_t tgid, uint64_t start);
int vb_bpf_seed_owner(struct vb_bpf* b, uint64_t cookie, uint32_t tgid);
int vb_bpf_block_exe(struct vb_bpf* b, uint64_t ino, uint32_t kernelDev, int on);
int vb_bpf_block_tgid(struct vb_bpf* b, uint32_t tgid, int on);
/* denied calls, dropped packets, packets of unowned sockets, records lost to full tables */
void vb_bpf_counters(struct vb_bpf* b, uint64_t out[4]);

/* ---- sock_diag ---- */
struct vb_diag_entry
{
    int family, proto;
    unsigned state;
    uint32_t inode;
    uint64_t cookie;
    uint32_t laddr, raddr; /* IPv6 folded */
    uint16_t lport, rport;
    int hasCounters;
    uint64_t bytesIn, bytesOut;
    unsigned char id[48]; /* the kernel's socket id, handed back to destroy it */
};
typedef void (*vb_diag_cb)(const struct vb_diag_entry* e, void* ctx);

/* A bound sock_diag socket in the network namespace nsFd (-1: this thread's own). */
int vb_diag_open(int nsFd);
/* n of them at once (fds[i] is -errno for one that failed); 0 or -errno. */
int vb_diag_open_n(int nsFd, int* fds, int n);
/* Dumps TCP and UDP sockets of both families; 0 or -errno. */
int vb_diag_dump(int fd, vb_diag_cb cb, void* ctx);
int vb_diag_destroy(int fd, const struct vb_diag_entry* e);
/* Joins the TCP and UDP destroy groups; 0 or -errno. */
int vb_diag_join_destroy(int fd);
/* Reads pending destroy events without blocking; count or -errno. */
int vb_diag_read_events(int fd, vb_diag_cb cb, void* ctx);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
extern "C" {
#endif
/* ---- proc connector ---- */
/* Subscribes to process events; the socket, or -errno. */
int vb_proc_events_open(void);
/* Reads pending events without blocking and reports each exec; count or -errno (-ENOBUFS when
 * events were lost). */
int vb_proc_events_read(int fd, void (*onExec)(uint32_t tgid, void* ctx), void* ctx);
#ifdef __cplusplus
}
#endif

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

struct vb_bpf_sock {
    uint64_t cookie;
    uint32_t tgid;
    uint16_t family, proto;
    uint32_t laddr, raddr;
    uint16_t lport, rport;
    uint64_t rx, tx;
};

/* Loads the programs and attaches them to the cgroup2 directory. NULL on failure, with a
 * reason in err. The attachments go away with the returned object or with the process. */
struct vb_bpf *vb_bpf_start(const char *cgroupDir, char *err, size_t errLength);
void vb_bpf_stop(struct vb_bpf *b);
int vb_bpf_attached(const struct vb_bpf *b);
/* Live sockets; returns how many were written (at most max), -1 on failure. */
int vb_bpf_read_socks(struct vb_bpf *b, struct vb_bpf_sock *out, int max);
/* History entries of closed sockets; returns count or -1. */
int vb_bpf_read_history(struct vb_bpf *b, uint32_t *tgids, uint64_t *rx, uint64_t *tx, int max);
int vb_bpf_forget_history(struct vb_bpf *b, uint32_t tgid);
int vb_bpf_seed_owner(struct vb_bpf *b, uint64_t cookie, uint32_t tgid);
int vb_bpf_block_exe(struct vb_bpf *b, uint64_t ino, uint32_t kernelDev, int on);
int vb_bpf_block_tgid(struct vb_bpf *b, uint32_t tgid, int on);
void vb_bpf_counters(struct vb_bpf *b, uint64_t out[4]);

/* ---- sock_diag ---- */
struct vb_diag_entry {
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
typedef void (*vb_diag_cb)(const struct vb_diag_entry *e, void *ctx);

/* A bound sock_diag socket in the network namespace nsFd (-1: this thread's own). */
int vb_diag_open(int nsFd);
/* Dumps TCP and UDP sockets of both families; 0 or -errno. */
int vb_diag_dump(int fd, vb_diag_cb cb, void *ctx);
int vb_diag_destroy(int fd, const struct vb_diag_entry *e);
/* Joins the TCP and UDP destroy groups; 0 or -errno. */
int vb_diag_join_destroy(int fd);
/* Reads pending destroy events without blocking; count or -errno. */
int vb_diag_read_events(int fd, vb_diag_cb cb, void *ctx);

#ifdef __cplusplus
}
#endif

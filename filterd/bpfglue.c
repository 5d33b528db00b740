/* SPDX-License-Identifier: GPL-3.0-or-later */
#include "kernel.h"

#include "flowfilter.skel.h"

#include <bpf/bpf.h>
#include <bpf/libbpf.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define VB_MAX_LINKS 16

struct vb_bpf
{
    struct flowfilter* skel;
    struct bpf_link* links[VB_MAX_LINKS];
    int nlinks;
};

struct exe_key
{
    uint64_t ino;
    uint32_t dev;
    uint32_t pad;
};

struct sock_rec
{
    uint32_t tgid;
    uint16_t family, proto;
    uint32_t laddr, raddr;
    uint16_t lport, rport;
    uint32_t pad;
    uint64_t rx, tx;
    uint64_t start;
    uint64_t wire_rx, copied;
    uint32_t copied_end, copy_seen;
};

struct hist
{
    uint64_t start;
    uint64_t rx, tx;
};

static int quiet(enum libbpf_print_level level, const char* fmt, va_list ap)
{
    if (level == LIBBPF_DEBUG)
        return 0;
    return vfprintf(stderr, fmt, ap);
}

static struct flowfilter* open_and_load(uint32_t tableSize, int withCopyHook)
{
    struct flowfilter* skel = flowfilter__open();
    if (!skel)
        return NULL;
    if (tableSize) {
        bpf_map__set_max_entries(skel->maps.socks, tableSize);
        bpf_map__set_max_entries(skel->maps.history, tableSize);
        bpf_map__set_max_entries(skel->maps.cookie_owner, tableSize);
    }
    bpf_program__set_autoload(skel->progs.vb_copied, withCopyHook);
    int e = flowfilter__load(skel);
    if (e) {
        flowfilter__destroy(skel);
        errno = -e;
        return NULL;
    }
    return skel;
}

struct vb_bpf* vb_bpf_start(const char* cgroupDir, uint32_t tableSize, char* err, size_t errLength)
{
    libbpf_set_print(quiet);
    struct vb_bpf* b = calloc(1, sizeof *b);
    if (!b) {
        snprintf(err, errLength, "out of memory");
        return NULL;
    }
    /* A kernel that refuses the copy tracepoint still gets everything else; its TCP reads are
     * then booked on the wire, to the socket's last mover. */
    b->skel = open_and_load(tableSize, 1);
    if (!b->skel)
        b->skel = open_and_load(tableSize, 0);
    if (!b->skel) {
        snprintf(err, errLength, "load: %s", strerror(errno));
        free(b);
        return NULL;
    }
    int cg = open(cgroupDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (cg < 0) {
        snprintf(err, errLength, "open %s: %s", cgroupDir, strerror(errno));
        vb_bpf_stop(b);
        return NULL;
    }
    struct bpf_program* p;
    bpf_object__for_each_program(p, b->skel->obj)
    {
        if (!bpf_program__autoload(p))
            continue;
        const int tracing = bpf_program__type(p) == BPF_PROG_TYPE_TRACING;
        struct bpf_link* l = tracing ? bpf_program__attach(p) : bpf_program__attach_cgroup(p, cg);
        if (tracing && libbpf_get_error(l))
            continue; /* as above: reads are booked on the wire */
        long e = libbpf_get_error(l);
        if (e || b->nlinks >= VB_MAX_LINKS) {
            snprintf(err, errLength, "attach %s: %s", bpf_program__name(p), strerror((int)-e));
            if (!e)
                bpf_link__destroy(l);
            close(cg);
            vb_bpf_stop(b);
            return NULL;
        }
        b->links[b->nlinks++] = l;
        if (tracing)
            b->skel->bss->copy_hook_on = 1;
    }
    close(cg);
    return b;
}

void vb_bpf_stop(struct vb_bpf* b)
{
    if (!b)
        return;
    for (int i = 0; i < b->nlinks; i++)
        bpf_link__destroy(b->links[i]);
    flowfilter__destroy(b->skel);
    free(b);
}

int vb_bpf_attached(const struct vb_bpf* b)
{
    return b ? b->nlinks : 0;
}

/* Bounded: the tables hold at most 65536 entries, and a key deleted while we walk makes the
 * kernel restart from the first key, so the walk stops after four passes' worth of steps. */
#define VB_MAX_STEPS (4 * 65536)

static void report(const uint64_t cookie, const struct sock_rec* r, vb_bpf_sock_cb cb, void* ctx)
{
    struct vb_bpf_sock s;
    s.cookie = cookie;
    s.tgid = r->tgid;
    s.family = r->family;
    s.proto = r->proto;
    s.laddr = r->laddr;
    s.raddr = r->raddr;
    s.lport = r->lport;
    s.rport = r->rport;
    s.rx = r->rx;
    s.tx = r->tx;
    s.start = r->start;
    cb(&s, ctx);
}

/* Batched reads cost a few system calls for the whole table instead of two per socket. */
static int read_socks_batched(int fd, vb_bpf_sock_cb cb, void* ctx)
{
    enum { Batch = 1024 };
    static uint64_t keys[Batch];
    static struct sock_rec values[Batch];
    uint64_t in_batch = 0, out_batch = 0;
    int first = 1, n = 0;
    for (int rounds = 0; rounds < 256; rounds++) {
        uint32_t count = Batch;
        int r = bpf_map_lookup_batch(fd, first ? NULL : &in_batch, &out_batch, keys, values, &count,
                                     NULL);
        int err = r ? errno : 0;
        if (r && err != ENOENT)
            return n == 0 ? -err : n;
        for (uint32_t i = 0; i < count; i++)
            report(keys[i], &values[i], cb, ctx);
        n += (int)count;
        if (err == ENOENT)
            return n;
        in_batch = out_batch;
        first = 0;
    }
    return n;
}

int vb_bpf_link_ids(const struct vb_bpf* b, uint32_t* ids, int max)
{
    int n = 0;
    for (int i = 0; i < b->nlinks && n < max; i++) {
        struct bpf_link_info info;
        uint32_t len = sizeof info;
        memset(&info, 0, sizeof info);
        if (bpf_obj_get_info_by_fd(bpf_link__fd(b->links[i]), &info, &len) == 0)
            ids[n++] = info.id;
    }
    return n;
}

int vb_bpf_read_socks(struct vb_bpf* b, vb_bpf_sock_cb cb, void* ctx)
{
    int fd = bpf_map__fd(b->skel->maps.socks);
    int batched = read_socks_batched(fd, cb, ctx);
    if (batched >= 0)
        return batched;
    uint64_t key, next;
    uint64_t* prev = NULL;
    int n = 0;
    for (int steps = 0; steps < VB_MAX_STEPS; steps++) {
        if (bpf_map_get_next_key(fd, prev, &next))
            break;
        struct sock_rec r;
        if (bpf_map_lookup_elem(fd, &next, &r) == 0) {
            report(next, &r, cb, ctx);
            n++;
        }
        key = next;
        prev = &key;
    }
    return n;
}

int vb_bpf_read_history(struct vb_bpf* b, vb_bpf_hist_cb cb, void* ctx)
{
    int fd = bpf_map__fd(b->skel->maps.history);
    uint32_t key, next;
    uint32_t* prev = NULL;
    int n = 0;
    for (int steps = 0; steps < VB_MAX_STEPS; steps++) {
        if (bpf_map_get_next_key(fd, prev, &next))
            break;
        struct hist h;
        if (bpf_map_lookup_elem(fd, &next, &h) == 0) {
            cb(next, h.start, h.rx, h.tx, ctx);
            n++;
        }
        key = next;
        prev = &key;
    }
    return n;
}

int vb_bpf_forget_history(struct vb_bpf* b, uint32_t tgid, uint64_t start)
{
    /* Only the process asked about: a newer one may have taken the pid meanwhile. */
    int fd = bpf_map__fd(b->skel->maps.history);
    struct hist h;
    if (bpf_map_lookup_elem(fd, &tgid, &h) != 0)
        return -errno;
    if (h.start != start)
        return 0;
    return bpf_map_delete_elem(fd, &tgid) ? -errno : 0;
}

int vb_bpf_seed_owner(struct vb_bpf* b, uint64_t cookie, uint32_t tgid)
{
    return bpf_map_update_elem(bpf_map__fd(b->skel->maps.cookie_owner), &cookie, &tgid, BPF_ANY)
               ? -errno
               : 0;
}

int vb_bpf_block_exe(struct vb_bpf* b, uint64_t ino, uint32_t kernelDev, int on)
{
    struct exe_key k;
    memset(&k, 0, sizeof k);
    k.ino = ino;
    k.dev = kernelDev;
    uint8_t one = 1;
    int fd = bpf_map__fd(b->skel->maps.blocked_exe);
    int r = on ? bpf_map_update_elem(fd, &k, &one, BPF_ANY) : bpf_map_delete_elem(fd, &k);
    return r && !(errno == ENOENT && !on) ? -errno : 0;
}

int vb_bpf_block_tgid(struct vb_bpf* b, uint32_t tgid, int on)
{
    uint8_t one = 1;
    int fd = bpf_map__fd(b->skel->maps.blocked_tgid);
    int r = on ? bpf_map_update_elem(fd, &tgid, &one, BPF_ANY) : bpf_map_delete_elem(fd, &tgid);
    return r && !(errno == ENOENT && !on) ? -errno : 0;
}

void vb_bpf_counters(struct vb_bpf* b, uint64_t out[4])
{
    out[0] = b->skel->bss->denied_calls;
    out[1] = b->skel->bss->dropped_packets;
    out[2] = b->skel->bss->unowned_packets;
    out[3] = b->skel->bss->lost_records;
}

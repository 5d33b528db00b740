/* SPDX-License-Identifier: GPL-3.0-or-later */
#define _GNU_SOURCE
#include "kernel.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

_Static_assert(sizeof(struct inet_diag_sockid) <= 48, "socket id fits");

/* One datagram from the kernel; datagrams a process sent to our port are dropped, so a user's
 * forged replies or events are never believed. */
static ssize_t recv_kernel(int fd, void* buf, size_t length, int flags)
{
    for (int round = 0; round < 1024; round++) {
        struct sockaddr_nl from;
        socklen_t fromLength = sizeof from;
        memset(&from, 0, sizeof from);
        ssize_t n = recvfrom(fd, buf, length, flags, (struct sockaddr*)&from, &fromLength);
        if (n < 0 ||
            (fromLength >= sizeof from && from.nl_family == AF_NETLINK && from.nl_pid == 0))
            return n;
    }
    errno = EAGAIN;
    return -1;
}

static int open_here(void)
{
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return -errno;
    /* Bound, so that the kernel's destroy multicasts are delivered to it. */
    struct sockaddr_nl sa;
    memset(&sa, 0, sizeof sa);
    sa.nl_family = AF_NETLINK;
    if (bind(fd, (struct sockaddr*)&sa, sizeof sa)) {
        int e = -errno;
        close(fd);
        return e;
    }
    struct timeval tv = {2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

int vb_diag_open_n(int nsFd, int* fds, int n)
{
    int i;
    if (nsFd < 0) {
        for (i = 0; i < n; ++i)
            fds[i] = open_here();
        return 0;
    }
    /* A netlink socket belongs to the namespace it was made in: step in, make them, step out
     * (entering a namespace is the slow part, so once for all of them). */
    int self = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (self < 0)
        return -errno;
    if (setns(nsFd, CLONE_NEWNET)) {
        int e = -errno;
        close(self);
        return e;
    }
    for (i = 0; i < n; ++i)
        fds[i] = open_here();
    if (setns(self, CLONE_NEWNET)) {
        /* Staying in a foreign namespace would be worse than failing hard. */
        _exit(70);
    }
    close(self);
    return 0;
}

int vb_diag_open(int nsFd)
{
    int fd = -1;
    int e = vb_diag_open_n(nsFd, &fd, 1);
    return e < 0 ? e : fd;
}

static uint32_t fold(int family, const uint32_t a[4])
{
    if (family == AF_INET || (a[0] == 0 && a[1] == 0 && a[2] == htonl(0xffff)))
        return family == AF_INET ? a[0] : a[3];
    return a[0] ^ a[1] ^ a[2] ^ a[3];
}

static void to_entry(struct nlmsghdr* h, int proto, struct vb_diag_entry* e)
{
    struct inet_diag_msg* m = NLMSG_DATA(h);
    memset(e, 0, sizeof *e);
    e->family = m->idiag_family;
    e->proto = proto;
    e->state = m->idiag_state;
    e->inode = m->idiag_inode;
    e->cookie = ((uint64_t)m->id.idiag_cookie[1] << 32) | m->id.idiag_cookie[0];
    e->laddr = fold(m->idiag_family, m->id.idiag_src);
    e->raddr = fold(m->idiag_family, m->id.idiag_dst);
    e->lport = ntohs(m->id.idiag_sport);
    e->rport = ntohs(m->id.idiag_dport);
    memcpy(e->id, &m->id, sizeof m->id);
    int len = (int)h->nlmsg_len - (int)NLMSG_LENGTH(sizeof *m);
    for (struct rtattr* a = (struct rtattr*)(m + 1); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        if (a->rta_type == INET_DIAG_INFO) {
            struct tcp_info ti;
            memset(&ti, 0, sizeof ti);
            size_t n = RTA_PAYLOAD(a) < sizeof ti ? RTA_PAYLOAD(a) : sizeof ti;
            memcpy(&ti, RTA_DATA(a), n);
            /* Payload only: bytes_sent counts retransmissions again, bytes_received excludes
             * the control sequence numbers the acked counter includes. */
            if (n >= offsetof(struct tcp_info, tcpi_bytes_retrans) + sizeof ti.tcpi_bytes_retrans) {
                e->hasCounters = 1;
                e->bytesIn = ti.tcpi_bytes_received;
                e->bytesOut = ti.tcpi_bytes_sent > ti.tcpi_bytes_retrans
                                  ? ti.tcpi_bytes_sent - ti.tcpi_bytes_retrans
                                  : 0;
            }
        } else if (a->rta_type == INET_DIAG_PROTOCOL && RTA_PAYLOAD(a) >= 1) {
            e->proto = *(unsigned char*)RTA_DATA(a);
        }
    }
}

static int dump_one(int fd, int family, int proto, vb_diag_cb cb, void* ctx)
{
    struct
    {
        struct nlmsghdr nlh;
        struct inet_diag_req_v2 r;
    } req;
    memset(&req, 0, sizeof req);
    req.nlh.nlmsg_len = sizeof req;
    req.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    req.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.r.sdiag_family = family;
    req.r.sdiag_protocol = proto;
    req.r.idiag_states = ~0u;
    req.r.idiag_ext = 1 << (INET_DIAG_INFO - 1);
    if (send(fd, &req, sizeof req, MSG_NOSIGNAL) < 0)
        return -errno;
    static __thread char buf[65536] __attribute__((aligned(8)));
    for (int round = 0; round < 100000; round++) {
        ssize_t n = recv_kernel(fd, buf, sizeof buf, 0);
        if (n < 0)
            return -errno;
        int left = (int)n;
        for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE)
                return 0;
            if (h->nlmsg_type == NLMSG_ERROR)
                return ((struct nlmsgerr*)NLMSG_DATA(h))->error;
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(struct inet_diag_msg)))
                continue;
            struct vb_diag_entry e;
            to_entry(h, proto, &e);
            cb(&e, ctx);
        }
    }
    return -E2BIG;
}

int vb_diag_dump(int fd, vb_diag_cb cb, void* ctx)
{
    static const int kinds[4][2] = {{AF_INET, IPPROTO_TCP},
                                    {AF_INET6, IPPROTO_TCP},
                                    {AF_INET, IPPROTO_UDP},
                                    {AF_INET6, IPPROTO_UDP}};
    int result = 0;
    for (int i = 0; i < 4; i++) {
        int r = dump_one(fd, kinds[i][0], kinds[i][1], cb, ctx);
        if (r && !result)
            result = r;
    }
    return result;
}

int vb_diag_destroy(int fd, const struct vb_diag_entry* e)
{
    struct
    {
        struct nlmsghdr nlh;
        struct inet_diag_req_v2 r;
    } req;
    memset(&req, 0, sizeof req);
    req.nlh.nlmsg_len = sizeof req;
    req.nlh.nlmsg_type = SOCK_DESTROY;
    req.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    req.r.sdiag_family = (uint8_t)e->family;
    req.r.sdiag_protocol = (uint8_t)e->proto;
    req.r.idiag_states = ~0u;
    memcpy(&req.r.id, e->id, sizeof req.r.id);
    if (send(fd, &req, sizeof req, MSG_NOSIGNAL) < 0)
        return -errno;
    char buf[4096] __attribute__((aligned(8)));
    for (int round = 0; round < 16; round++) {
        ssize_t n = recv_kernel(fd, buf, sizeof buf, 0);
        if (n < 0)
            return -errno;
        int left = (int)n;
        for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, left); h = NLMSG_NEXT(h, left))
            if (h->nlmsg_type == NLMSG_ERROR)
                return ((struct nlmsgerr*)NLMSG_DATA(h))->error;
    }
    return -EIO;
}

int vb_diag_join_destroy(int fd)
{
    int groups[4] = {SKNLGRP_INET_TCP_DESTROY, SKNLGRP_INET_UDP_DESTROY, SKNLGRP_INET6_TCP_DESTROY,
                     SKNLGRP_INET6_UDP_DESTROY};
    for (int i = 0; i < 4; i++)
        if (setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &groups[i], sizeof groups[i]))
            return -errno;
    int size = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    return 0;
}

int vb_diag_read_events(int fd, vb_diag_cb cb, void* ctx)
{
    static __thread char buf[65536] __attribute__((aligned(8)));
    int count = 0;
    for (int round = 0; round < 4096; round++) {
        /* Anyone with CAP_NET_ADMIN in a namespace of their own may multicast to these groups;
         * only the kernel reports sockets that really went. */
        ssize_t n = recv_kernel(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? count : -errno;
        int left = (int)n;
        for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(struct inet_diag_msg)))
                continue;
            struct inet_diag_msg* m = NLMSG_DATA(h);
            struct vb_diag_entry e;
            /* The group tells TCP from UDP; the message itself says it with the protocol
             * attribute, and TCP events are the ones that carry counters. */
            to_entry(h, IPPROTO_UDP, &e);
            if (e.hasCounters)
                e.proto = IPPROTO_TCP;
            (void)m;
            cb(&e, ctx);
            count++;
        }
    }
    return count;
}

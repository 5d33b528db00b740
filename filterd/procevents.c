/* SPDX-License-Identifier: GPL-3.0-or-later */
#include "kernel.h"

#include <errno.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int vb_proc_events_open(void)
{
    int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_CONNECTOR);
    if (fd < 0)
        return -errno;
    struct sockaddr_nl sa;
    memset(&sa, 0, sizeof sa);
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = CN_IDX_PROC;
    if (bind(fd, (struct sockaddr*)&sa, sizeof sa)) {
        int e = -errno;
        close(fd);
        return e;
    }
    struct __attribute__((aligned(NLMSG_ALIGNTO)))
    {
        struct nlmsghdr nlh;
        struct __attribute__((packed))
        {
            struct cn_msg cn;
            enum proc_cn_mcast_op op;
        } m;
    } req;
    memset(&req, 0, sizeof req);
    req.nlh.nlmsg_len = sizeof req;
    req.nlh.nlmsg_type = NLMSG_DONE;
    req.m.cn.id.idx = CN_IDX_PROC;
    req.m.cn.id.val = CN_VAL_PROC;
    req.m.cn.len = sizeof(enum proc_cn_mcast_op);
    req.m.op = PROC_CN_MCAST_LISTEN;
    if (send(fd, &req, sizeof req, MSG_NOSIGNAL) < 0) {
        int e = -errno;
        close(fd);
        return e;
    }
    int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    return fd;
}

int vb_proc_events_read(int fd, void (*onExec)(uint32_t tgid, void* ctx), void* ctx)
{
    static char buf[16384] __attribute__((aligned(8)));
    int count = 0;
    for (int round = 0; round < 1024; round++) {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? count : -errno;
        int left = (int)n;
        for (struct nlmsghdr* h = (struct nlmsghdr*)buf; NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_len < NLMSG_LENGTH(sizeof(struct cn_msg) + sizeof(struct proc_event)))
                continue;
            struct cn_msg* cn = NLMSG_DATA(h);
            if (cn->id.idx != CN_IDX_PROC || cn->len < sizeof(struct proc_event))
                continue;
            /* The event follows the 20-byte connector head, so it is not aligned: copy it. */
            struct proc_event ev;
            memcpy(&ev, cn->data, sizeof ev);
            if (ev.what == PROC_EVENT_EXEC) {
                onExec((uint32_t)ev.event_data.exec.process_tgid, ctx);
                count++;
            }
        }
    }
    return count;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A forked child that sets something up, reports one value back through a pipe and then holds
// what it made until it is killed: sockets, namespaces, sessions of another user.
#pragma once

#include <sys/types.h>
#include <unistd.h>

// Runs setUp(report) in a child; false from it ends the child. The parent gets the child's pid
// (-1 when none was made) and the report; report stays as it was when the child sent none.
template <typename T, typename SetUp> pid_t forkHolding(T& report, SetUp setUp)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        if (!setUp(report) || write(ready[1], &report, sizeof report) != sizeof report)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    if (child > 0) {
        T got{};
        if (read(ready[0], &got, sizeof got) == sizeof got)
            report = got;
    }
    close(ready[0]);
    return child;
}

// A child that only holds still until it is killed; its pid, or -1.
inline pid_t forkPaused()
{
    int ready = 0;
    return forkHolding(ready, [](int&) { return true; });
}

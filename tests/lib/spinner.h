// SPDX-License-Identifier: GPL-3.0-or-later
// A child process that keeps one core busy until the test kills it by pid (or, should the test
// die first, until its alarm ends it).
#pragma once

#include <sched.h>
#include <sys/types.h>
#include <unistd.h>

namespace vb::test {

inline pid_t startSpinner(int cpu, unsigned lifetimeSeconds = 120)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::sched_setaffinity(0, sizeof set, &set);
    ::alarm(lifetimeSeconds);
    volatile unsigned long n = 0;
    for (;;)
        n = n + 1;
}

} // namespace vb::test

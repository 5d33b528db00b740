#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""pkagent.py MODE LIMIT CMD...: runs CMD with a polkit text agent registered for CMD's own
process, as a desktop's agent would be for the session. MODE is the password to answer every
prompt with, "silent" (the prompt is never answered) or "cancel" (the agent goes away at the
prompt, as a dialog closed by the user). CMD gets LIMIT seconds; the agent and CMD are ended by
pid. Prints "prompts=N" and exits with CMD's status (124 when it had to be ended)."""
import os
import pty
import select
import signal
import sys
import termios
import time

mode, limit, cmd = sys.argv[1], float(sys.argv[2]), sys.argv[3:]


def reap(pid, wait_s):
    end = time.monotonic() + wait_s
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        if time.monotonic() >= end:
            return None
        time.sleep(0.05)


def end(pid):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            pass
        code = reap(pid, 2)
        if code is not None:
            return code
    return None


# The agent is registered for a process (its pid and start time): the caller must exist first
# and must not make its call before the agent is there, so it waits, then execs (same pid).
go_r, go_w = os.pipe()
caller = os.fork()
if caller == 0:
    os.close(go_w)
    os.read(go_r, 1)
    os.execvp(cmd[0], cmd)
os.close(go_r)
ready_r, ready_w = os.pipe()
os.set_inheritable(ready_w, True)
agent, tty = pty.fork()  # the agent reads the password from its terminal
if agent == 0:
    os.execvp("pkttyagent", ["pkttyagent", "--process", str(caller), "--notify-fd", str(ready_w)])
os.close(ready_w)
if not select.select([ready_r], [], [], 10)[0]:  # it closes the descriptor once registered
    print("pkagent: the agent did not register", file=sys.stderr)
os.write(go_w, b"g")

seen, prompts, answered, status = b"", 0, 0, None
deadline = time.monotonic() + limit
while time.monotonic() < deadline and status is None:
    status = reap(caller, 0)
    if agent and select.select([tty], [], [], 0.1)[0]:
        try:
            seen += os.read(tty, 4096)
        except OSError:
            pass
    prompts = seen.count(b"Password:")
    if prompts > answered and agent:
        if mode == "cancel":
            end(agent)
            agent = 0
            answered = prompts
        elif mode != "silent" and not termios.tcgetattr(tty)[3] & termios.ECHO:
            # Only once echo is off: the agent drops what was typed before it turned it off.
            os.write(tty, mode.encode() + b"\n")
            answered = prompts
if agent:
    end(agent)
if status is None:
    status = reap(caller, 0)
if status is None:
    print(f"pkagent: the command still ran after {limit:.0f} s", file=sys.stderr)
    end(caller)
    status = 124
print(f"prompts={prompts}")
print("pkagent: the agent showed:", " | ".join(
    line.strip() for line in seen.decode(errors="replace").splitlines() if line.strip()),
    file=sys.stderr)
sys.exit(status)

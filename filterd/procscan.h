// SPDX-License-Identifier: GPL-3.0-or-later
// What the service needs to know about processes, read from procfs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace filterd {

struct ExeKey
{
    uint64_t ino = 0;
    uint32_t dev = 0; // the kernel's encoding: major << 20 | minor
    bool operator==(const ExeKey& o) const { return ino == o.ino && dev == o.dev; }
};

std::vector<uint32_t> processIds();
// The image path, without the " (deleted)" mark of a replaced file; empty for kernel threads.
std::string exePath(uint32_t pid);
bool exeKeyOfProcess(uint32_t pid, ExeKey& key);
// The key of a regular file; false when it is none.
bool exeKeyOfFile(const std::string& path, ExeKey& key);
// The same for a path resolved inside root (an O_PATH directory; -1: ours), never leaving it
// by "..", symbolic links or /proc magic links.
bool exeKeyOfFileIn(int root, const std::string& path, ExeKey& key);
// The root directory of the process at the other end of a Unix socket, as an O_PATH
// descriptor, and the inode of its mount namespace; -1 when it cannot be had or is our own.
int openPeerRoot(int unixFd, uint64_t& mountNs);
// The root directory of a process in the mount namespace of that inode, as an O_PATH
// descriptor; -1 when no process is in it any more.
int openRootOfMountNamespace(uint64_t mountNs);
void socketInodes(uint32_t pid, std::vector<uint32_t>& out);
// The inode of the process's network namespace, 0 when unknown.
uint64_t netnsId(uint32_t pid);
bool processAlive(uint32_t pid);
// The user that owns a running process; false when it is gone.
bool ownerOfProcess(uint32_t pid, uint32_t& uid);
// When the process started, in clock ticks since boot; 0 when it is gone.
uint64_t startTicks(uint32_t pid);
// The kernel's boot-time nanoseconds in the same ticks.
uint64_t ticksOfNanoseconds(uint64_t ns);

} // namespace filterd

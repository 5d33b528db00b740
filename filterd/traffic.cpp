// SPDX-License-Identifier: GPL-3.0-or-later
#include "traffic.h"

#include "kernel.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace filterd {

namespace {

using Clock = std::chrono::steady_clock;
// A dead process's history stays readable this long, so a reader at one read per second
// (or a slower one) still sees the traffic of a process that lived between two reads.
constexpr auto HistoryGrace = std::chrono::seconds(30);

struct Collected
{
    std::vector<vb_diag_entry> entries;
};

void collect(const vb_diag_entry* e, void* ctx)
{
    static_cast<Collected*>(ctx)->entries.push_back(*e);
}

int openNetns(uint32_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

// A sock_diag socket inside the network namespace of pid; -1 when it cannot be had.
int openDiagIn(uint32_t pid)
{
    const int nsFd = openNetns(pid);
    if (nsFd < 0)
        return -1;
    const int fd = vb_diag_open(nsFd);
    close(nsFd);
    return fd;
}

// Every socket inode with the process that holds it, and one such process per network
// namespace (a sock_diag dump sees only its own namespace). A socket several processes hold
// names the others in coHolders.
void mapSocketOwners(std::unordered_map<uint32_t, uint32_t>& owner,
                     std::map<uint64_t, uint32_t>& namespaces,
                     std::unordered_map<uint32_t, std::vector<uint32_t>>* coHolders = nullptr)
{
    for (uint32_t pid : processIds()) {
        std::vector<uint32_t> inodes;
        socketInodes(pid, inodes);
        for (uint32_t ino : inodes) {
            const auto [it, first] = owner.emplace(ino, pid);
            if (!first && it->second != pid && coHolders)
                (*coHolders)[ino].push_back(pid);
        }
        if (!inodes.empty())
            namespaces.emplace(netnsId(pid), pid);
    }
}

} // namespace

std::string findCgroup2Root()
{
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        // ... mount-point ... - fstype source options
        const auto dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string fstype;
        tail >> fstype;
        if (fstype != "cgroup2")
            continue;
        std::istringstream head(line.substr(0, dash));
        std::string id, parent, devno, root, mountPoint;
        head >> id >> parent >> devno >> root >> mountPoint;
        if (root == "/")
            return mountPoint;
    }
    return std::string();
}

// ---- shared ----

TrafficBackend::~TrafficBackend()
{
    if (m_procEvents >= 0)
        close(m_procEvents);
}

int TrafficBackend::processEventFd()
{
    if (m_procEvents == -2) {
        m_procEvents = vb_proc_events_open();
        if (m_procEvents < 0)
            m_procEvents = -1;
    }
    return m_procEvents;
}

namespace {
void onExec(uint32_t tgid, void* ctx)
{
    static_cast<std::vector<uint32_t>*>(ctx)->push_back(tgid);
}
} // namespace

void TrafficBackend::onProcessEvents()
{
    if (m_procEvents < 0)
        return;
    std::vector<uint32_t> execs;
    vb_proc_events_read(m_procEvents, onExec, &execs);
    constexpr size_t MaxRemembered = 4096;
    for (uint32_t pid : execs) {
        std::string path = exePath(pid);
        if (path.empty())
            continue;
        if (!m_execPaths.count(pid))
            m_execOrder.push_back(pid);
        m_execPaths[pid] = std::move(path);
        uint32_t uid = 0;
        if (ownerOfProcess(pid, uid))
            m_owners[pid] = uid;
    }
    if (m_execOrder.size() > MaxRemembered) {
        const size_t drop = m_execOrder.size() - MaxRemembered;
        for (size_t i = 0; i < drop; ++i) {
            m_execPaths.erase(m_execOrder[i]);
            if (!m_knownPaths.count(m_execOrder[i]))
                m_owners.erase(m_execOrder[i]);
        }
        m_execOrder.erase(m_execOrder.begin(), m_execOrder.begin() + static_cast<long>(drop));
    }
}

void TrafficBackend::notePid(uint32_t pid)
{
    if (m_knownPaths.count(pid))
        return;
    std::string path = exePath(pid);
    if (path.empty()) {
        auto it = m_execPaths.find(pid);
        if (it != m_execPaths.end())
            path = it->second;
    }
    if (!path.empty())
        m_knownPaths.emplace(pid, std::move(path));
    uint32_t uid = 0;
    if (ownerOfProcess(pid, uid))
        m_owners[pid] = uid;
}

bool TrafficBackend::ownerOfGone(U64 pid, uint32_t& uid)
{
    if (pid > 0xFFFFFFFFu)
        return false;
    auto it = m_owners.find(static_cast<uint32_t>(pid));
    if (it == m_owners.end())
        return false;
    uid = it->second;
    return true;
}

void TrafficBackend::processPaths(std::vector<ProcessPath>& out)
{
    std::set<uint32_t> listed;
    for (uint32_t pid : processIds()) {
        std::string path = exePath(pid);
        if (path.empty())
            continue; // kernel threads own no image
        out.push_back(ProcessPath{pid, path});
        listed.insert(pid);
    }
    // Processes that are gone but whose traffic is still reported keep their name.
    for (const auto& [pid, path] : m_knownPaths)
        if (!listed.count(pid))
            out.push_back(ProcessPath{pid, path});
}

void TrafficBackend::destroySockets(const std::set<uint32_t>& pids)
{
    if (pids.empty())
        return;
    // A socket another process holds too (a listener shared across fork, a descriptor passed
    // over a Unix socket) is that process's as well: cutting it would cut the innocent one.
    std::unordered_set<uint32_t> sharedWithOthers;
    for (uint32_t pid : processIds()) {
        if (pids.count(pid))
            continue;
        std::vector<uint32_t> inodes;
        socketInodes(pid, inodes);
        sharedWithOthers.insert(inodes.begin(), inodes.end());
    }
    std::map<uint64_t, std::pair<uint32_t, std::unordered_set<uint32_t>>> byNamespace;
    for (uint32_t pid : pids) {
        const uint64_t ns = netnsId(pid);
        if (!ns)
            continue;
        std::vector<uint32_t> inodes;
        socketInodes(pid, inodes);
        auto& slot = byNamespace[ns];
        slot.first = pid;
        for (uint32_t ino : inodes)
            if (!sharedWithOthers.count(ino))
                slot.second.insert(ino);
    }
    for (auto& [ns, slot] : byNamespace) {
        (void)ns;
        if (slot.second.empty())
            continue;
        const int fd = openDiagIn(slot.first);
        if (fd < 0)
            continue;
        Collected c;
        vb_diag_dump(fd, collect, &c);
        for (const vb_diag_entry& e : c.entries)
            if (e.inode && slot.second.count(e.inode))
                vb_diag_destroy(fd, &e);
        close(fd);
    }
}

uint32_t TrafficBackend::block(const std::string& path)
{
    return blockAs(-1, 0, path);
}

uint32_t TrafficBackend::blockAs(int callerRoot, uint64_t mountNs, const std::string& path)
{
    ExeKey key;
    if (!exeKeyOfFileIn(callerRoot, path, key))
        return ErrFileNotFound;
    auto it = m_blocks.find(path);
    if (it == m_blocks.end()) {
        std::shared_ptr<const int> root;
        if (callerRoot >= 0) {
            const int fd = fcntl(callerRoot, F_DUPFD_CLOEXEC, 0);
            if (fd < 0)
                return ErrNotEnoughMemory;
            root = std::shared_ptr<const int>(new int(fd), [](const int* p) {
                close(*p);
                delete p;
            });
        }
        if (!setExeBlocked(key, true))
            return ErrNotEnoughMemory;
        it =
            m_blocks.emplace(path, Block{{key}, {}, std::move(root), callerRoot >= 0 ? mountNs : 0})
                .first;
        m_pendingBlocks.erase(path);
        saveBlocks();
    }
    blockNewProcesses(runningImages());
    return ErrSuccess;
}

bool TrafficBackend::keyBlockedElsewhere(const std::string& path, const ExeKey& key) const
{
    // Another blocked path may name the same file (a link).
    for (const auto& [other, b] : m_blocks)
        if (other != path)
            for (const ExeKey& k : b.keys)
                if (k == key)
                    return true;
    return false;
}

uint32_t TrafficBackend::unblock(const std::string& path)
{
    if (m_pendingBlocks.erase(path))
        saveBlocks();
    auto it = m_blocks.find(path);
    if (it == m_blocks.end())
        return ErrSuccess; // nothing to undo is no failure
    for (const ExeKey& key : it->second.keys)
        if (!keyBlockedElsewhere(path, key))
            setExeBlocked(key, false);
    for (const auto& [pid, start] : it->second.pids) {
        (void)start;
        bool stillBlocked = false;
        for (const auto& [other, b] : m_blocks)
            if (other != path && b.pids.count(pid))
                stillBlocked = true;
        if (!stillBlocked)
            setPidBlocked(pid, false);
    }
    m_blocks.erase(it);
    saveBlocks();
    return ErrSuccess;
}

TrafficBackend::Images TrafficBackend::runningImages()
{
    Images images;
    for (uint32_t pid : processIds()) {
        ExeKey key;
        if (exeKeyOfProcess(pid, key))
            images.emplace_back(pid, key);
    }
    return images;
}

void TrafficBackend::followBlockedPaths(const Images& images)
{
    for (auto it = m_pendingBlocks.begin(); it != m_pendingBlocks.end();) {
        const std::string path = *it++;
        block(path); // leaves the set once the path names a file again
    }
    if (m_blocks.empty())
        return;
    // Images still run by some process; an older image nobody runs any more is let go, so
    // its inode, once reused for another file, blocks nothing.
    auto isRunning = [&](const ExeKey& key) {
        for (const auto& [pid, k] : images)
            if (k == key)
                return true;
        return false;
    };
    for (auto& [path, b] : m_blocks) {
        ExeKey now;
        // An upgrade puts a new file under the blocked path: block it as well.
        // A caller's own mounts may be gone with it (the name would fall through to what is
        // under them): only paths of our own root are followed.
        if (!b.root && exeKeyOfFile(path, now) && !(now == b.keys.front())) {
            bool known = false;
            for (const ExeKey& k : b.keys)
                known = known || k == now;
            if (!known && setExeBlocked(now, true)) {
                b.keys.insert(b.keys.begin(), now);
            } else if (known) {
                auto k = std::find(b.keys.begin(), b.keys.end(), now);
                std::rotate(b.keys.begin(), k, k + 1);
            }
        }
        for (auto k = b.keys.begin() + 1; k != b.keys.end();) {
            if (isRunning(*k)) {
                ++k;
                continue;
            }
            const ExeKey old = *k;
            k = b.keys.erase(k);
            if (!keyBlockedElsewhere(path, old))
                setExeBlocked(old, false);
        }
    }
}

void TrafficBackend::keepBlocksIn(const std::string& stateFile)
{
    m_stateFile = stateFile;
    if (m_stateFile.empty())
        return;
    std::ifstream in(m_stateFile, std::ios::binary);
    std::string path;
    // NUL-separated: a path may hold any other byte. Bounded like the block table itself.
    size_t gone = 0;
    for (size_t n = 0; n < 1024 && std::getline(in, path, '\0'); ++n) {
        // "mnt:NAMESPACE:PATH": a path named inside a mount namespace, resolved there again.
        if (path.compare(0, 4, "mnt:") == 0) {
            const size_t colon = path.find(':', 4);
            if (colon == std::string::npos || path.size() <= colon + 1 || path[colon + 1] != '/')
                continue;
            const uint64_t ns = std::strtoull(path.c_str() + 4, nullptr, 10);
            const int root = ns ? openRootOfMountNamespace(ns) : -1;
            if (root < 0 || blockAs(root, ns, path.substr(colon + 1)) != ErrSuccess)
                ++gone; // its namespace, or the file in it, is gone: nothing left to block
            if (root >= 0)
                close(root);
            continue;
        }
        if (path.empty() || path[0] != '/')
            continue;
        if (block(path) != ErrSuccess)
            m_pendingBlocks.insert(path);
    }
    std::fprintf(stderr,
                 "filterd: restored %zu blocks (%zu waiting for their file, %zu of namespaces "
                 "gone)\n",
                 m_blocks.size(), m_pendingBlocks.size(), gone);
}

void TrafficBackend::saveBlocks()
{
    if (m_stateFile.empty())
        return;
    std::string data;
    for (const auto& [path, b] : m_blocks) {
        if (!b.root)
            data += path + '\0';
        else if (b.mountNs)
            data += "mnt:" + std::to_string(b.mountNs) + ":" + path + '\0';
    }
    for (const std::string& path : m_pendingBlocks)
        data += path + '\0';
    // Written aside and renamed, so a crash leaves the old list or the new one, never half.
    const std::string tmp = m_stateFile + ".new";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "filterd: cannot save the blocks in %s\n", tmp.c_str());
        return;
    }
    const bool written =
        write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) && fsync(fd) == 0;
    close(fd);
    if (!written || rename(tmp.c_str(), m_stateFile.c_str()) != 0) {
        std::fprintf(stderr, "filterd: cannot save the blocks in %s\n", m_stateFile.c_str());
        unlink(tmp.c_str());
    }
}

void TrafficBackend::blockNewProcesses(const Images& images)
{
    if (m_blocks.empty())
        return;
    std::set<uint32_t> fresh;
    for (const auto& [pid, key] : images) {
        for (auto& [path, b] : m_blocks) {
            (void)path;
            const bool match = std::find(b.keys.begin(), b.keys.end(), key) != b.keys.end();
            if (match && !b.pids.count(pid)) {
                b.pids.emplace(pid, startTicks(pid));
                setPidBlocked(pid, true);
                fresh.insert(pid);
            }
        }
    }
    if (!fresh.empty())
        destroySockets(fresh);
    for (auto& [path, b] : m_blocks) {
        (void)path;
        for (auto pit = b.pids.begin(); pit != b.pids.end();) {
            if (startTicks(pit->first) != pit->second) {
                setPidBlocked(pit->first, false);
                pit = b.pids.erase(pit);
            } else {
                ++pit;
            }
        }
    }
}

void TrafficBackend::tick()
{
    const auto now = Clock::now();
    if (now - m_lastScan < std::chrono::milliseconds(900))
        return;
    m_lastScan = now;
    if (!m_blocks.empty() || !m_pendingBlocks.empty()) {
        const Images images = runningImages();
        followBlockedPaths(images);
        blockNewProcesses(images);
    }
    // Every process with a name or a history, whether or not its path was ever learned (one
    // forked without exec never gets one).
    std::set<uint32_t> pids;
    for (const auto& [pid, path] : m_knownPaths)
        pids.insert(pid);
    for (uint32_t pid : historyPids())
        pids.insert(pid);
    for (uint32_t pid : pids) {
        if (processAlive(pid)) {
            m_deadSince.erase(pid);
            continue;
        }
        auto dead = m_deadSince.emplace(pid, now).first;
        if (now - dead->second > HistoryGrace) {
            forgetHistory(pid);
            m_deadSince.erase(dead);
            m_knownPaths.erase(pid);
            m_owners.erase(pid);
        }
    }
    for (auto it = m_deadSince.begin(); it != m_deadSince.end();)
        it = pids.count(it->first) ? std::next(it) : m_deadSince.erase(it);
}

// ---- cgroup BPF ----

std::unique_ptr<BpfBackend> BpfBackend::start(const std::string& cgroupDir, uint32_t tableSize,
                                              std::string& error)
{
    if (cgroupDir.empty()) {
        error = "no cgroup2 mount";
        return nullptr;
    }
    char why[256] = {0};
    vb_bpf* b = vb_bpf_start(cgroupDir.c_str(), tableSize, why, sizeof why);
    if (!b) {
        error = why;
        return nullptr;
    }
    std::unique_ptr<BpfBackend> backend(new BpfBackend(b));
    backend->seedExistingSockets();
    return backend;
}

BpfBackend::~BpfBackend()
{
    vb_bpf_stop(m_bpf);
}

void BpfBackend::seedExistingSockets()
{
    // Sockets opened before the programs were attached have no owner in the kernel; name them
    // from one dump per namespace (the dump's cookie is the programs' cookie).
    std::unordered_map<uint32_t, uint32_t> owner;
    std::map<uint64_t, uint32_t> namespaces;
    mapSocketOwners(owner, namespaces);
    for (const auto& [ns, pid] : namespaces) {
        if (!ns)
            continue;
        const int fd = openDiagIn(pid);
        if (fd < 0)
            continue;
        Collected c;
        vb_diag_dump(fd, collect, &c);
        close(fd);
        for (const vb_diag_entry& e : c.entries) {
            auto it = owner.find(e.inode);
            if (it != owner.end())
                vb_bpf_seed_owner(m_bpf, e.cookie, it->second);
        }
    }
}

namespace {

struct SockRead
{
    std::set<uint64_t> seen;
    std::vector<std::pair<ConnectionDataItem, uint64_t>> sockets; // with their owner's start
    // The latest start among each pid's open sockets: its live holder's, to the nanosecond.
    std::map<uint32_t, uint64_t> newestStart;
};

void onSock(const vb_bpf_sock* s, void* ctx)
{
    auto* r = static_cast<SockRead*>(ctx);
    if (!r->seen.insert(s->cookie).second)
        return;
    ConnectionDataItem l;
    l.processId = s->tgid;
    l.identityWord1 = s->laddr;
    l.identityHalf1 = s->lport;
    l.identityHalf2 = s->rport;
    l.identityWord2 = s->raddr;
    l.identityHalf3 = s->proto;
    l.bytesIn = s->rx;
    l.bytesOut = s->tx;
    r->sockets.emplace_back(l, s->start);
    uint64_t& newest = r->newestStart[s->tgid];
    newest = std::max(newest, s->start);
}

struct HistoryEntry
{
    uint32_t tgid;
    uint64_t start;
    uint64_t rx, tx;
};

void onHistory(uint32_t tgid, uint64_t start, uint64_t rx, uint64_t tx, void* ctx)
{
    static_cast<std::vector<HistoryEntry>*>(ctx)->push_back(HistoryEntry{tgid, start, rx, tx});
}

} // namespace

bool BpfBackend::connections(std::vector<ConnectionDataItem>& live,
                             std::vector<ConnectionDataHistoryItem>& history)
{
    // History first: a socket closing between the two reads is then missing once and counted
    // at the next read, instead of being counted twice.
    std::vector<HistoryEntry> entries;
    vb_bpf_read_history(m_bpf, onHistory, &entries);
    SockRead r;
    vb_bpf_read_socks(m_bpf, onSock, &r);
    // A pid is one process at a time: sockets under it with an earlier start are a dead
    // holder's, released while the table was being read.
    for (const auto& [item, start] : r.sockets) {
        const uint64_t newest = r.newestStart[item.processId];
        if (!start || start == newest)
            live.push_back(item);
    }
    for (const auto& [pid, start] : r.newestStart) {
        (void)start;
        notePid(pid);
    }
    // The wire names a process by its pid alone, and the kernel keeps one entry per pid, the
    // latest holder's. A pid now held by a later process shows that process's bytes only: an
    // entry older than the live holder is a dead one's and is not shown. The live holder's start
    // is exact when it has a socket open; otherwise /proc gives it in clock ticks.
    m_historyIdents.clear();
    for (const HistoryEntry& e : entries) {
        bool older = false;
        if (e.start) {
            auto open = r.newestStart.find(e.tgid);
            if (open != r.newestStart.end() && open->second)
                older = e.start < open->second;
            const uint64_t liveStart = startTicks(e.tgid);
            older = older || (liveStart && ticksOfNanoseconds(e.start) < liveStart);
        }
        // Not shown, and not deleted at once: the kernel replaces it when the new holder books,
        // and a delete racing that replacement would drop the new holder's bytes. Forgotten
        // with the pid's other traces once the pid is free for the grace.
        m_historyIdents[e.tgid] = e.start;
        if (older)
            continue;
        history.push_back(ConnectionDataHistoryItem{e.tgid, e.rx, e.tx});
        notePid(e.tgid);
    }
    logLosses();
    return true;
}

void BpfBackend::logLosses()
{
    // Packets the tables could not attribute are bytes missing from the figures: say so when
    // their number grows, once per read at most.
    static const char* const names[4] = {"denied calls", "dropped packets",
                                         "packets of unowned sockets",
                                         "records lost (tables full)"};
    uint64_t now[4];
    vb_bpf_counters(m_bpf, now);
    for (int i = 2; i < 4; ++i) {
        if (now[i] > m_reportedLosses[i])
            std::fprintf(stderr, "filterd: %s: %llu (+%llu)\n", names[i],
                         static_cast<unsigned long long>(now[i]),
                         static_cast<unsigned long long>(now[i] - m_reportedLosses[i]));
        m_reportedLosses[i] = now[i];
    }
}

bool BpfBackend::setExeBlocked(const ExeKey& key, bool on)
{
    return vb_bpf_block_exe(m_bpf, key.ino, key.dev, on ? 1 : 0) == 0;
}

bool BpfBackend::setPidBlocked(uint32_t pid, bool on)
{
    return vb_bpf_block_tgid(m_bpf, pid, on ? 1 : 0) == 0;
}

void BpfBackend::forgetHistory(uint32_t pid)
{
    auto it = m_historyIdents.find(pid);
    if (it == m_historyIdents.end())
        return;
    vb_bpf_forget_history(m_bpf, pid, it->second);
    m_historyIdents.erase(it);
}

std::vector<uint32_t> BpfBackend::historyPids() const
{
    std::vector<uint32_t> out;
    for (const auto& [pid, start] : m_historyIdents) {
        (void)start;
        out.push_back(pid);
    }
    return out;
}

std::string BpfBackend::installed() const
{
    uint32_t ids[32];
    const int n = vb_bpf_link_ids(m_bpf, ids, 32);
    std::string text = "links=";
    for (int i = 0; i < n; ++i)
        text += (i ? "," : "") + std::to_string(ids[i]);
    return text;
}

void BpfBackend::counters(uint64_t out[4])
{
    vb_bpf_counters(m_bpf, out);
}

// ---- sock_diag ----

NamespaceOpener::NamespaceOpener() : m_thread([this] { run(); }) {}

NamespaceOpener::~NamespaceOpener()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    for (const Opened& o : m_done) {
        if (o.queryFd >= 0)
            close(o.queryFd);
        if (o.eventFd >= 0)
            close(o.eventFd);
    }
}

void NamespaceOpener::request(uint64_t nsId, uint32_t pid)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Opened& o : m_done)
            if (o.nsId == nsId)
                return;
        if (!m_wanted.emplace(nsId, pid).second)
            return;
    }
    m_wake.notify_one();
}

size_t NamespaceOpener::pending()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wanted.size() + m_done.size();
}

std::vector<NamespaceOpener::Opened> NamespaceOpener::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_done, {});
}

void NamespaceOpener::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_wanted.empty(); });
        if (m_stop)
            return;
        const auto [nsId, pid] = *m_wanted.begin();
        lock.unlock();
        Opened o;
        o.nsId = nsId;
        // The process may be gone, or another one have taken its number: only a namespace that
        // still has the id asked for is used.
        const int nsFd = openNetns(pid);
        int fds[2] = {-1, -1};
        struct stat st;
        const bool same = nsFd >= 0 && fstat(nsFd, &st) == 0 && st.st_ino == nsId;
        if (same && vb_diag_open_n(nsFd, fds, 2) == 0) {
            o.queryFd = fds[0];
            o.eventFd = fds[1];
            if (o.eventFd >= 0 && vb_diag_join_destroy(o.eventFd) != 0) {
                close(o.eventFd);
                o.eventFd = -1;
            }
        }
        if (nsFd >= 0)
            close(nsFd);
        lock.lock();
        m_wanted.erase(nsId);
        // Failures are reported too (without descriptors), so the asker can ask again.
        if (o.queryFd < 0 && o.eventFd >= 0) {
            close(o.eventFd);
            o.eventFd = -1;
        }
        m_done.push_back(o);
    }
}

std::unique_ptr<DiagBackend> DiagBackend::start(std::string& error)
{
    const int fd = vb_diag_open(-1);
    if (fd < 0) {
        error = "sock_diag unavailable";
        return nullptr;
    }
    close(fd);
    std::unique_ptr<DiagBackend> backend(new DiagBackend());
    // The service's own namespace is watched from the start.
    Namespace own;
    own.queryFd = vb_diag_open(-1);
    own.eventFd = vb_diag_open(-1);
    if (own.eventFd >= 0 && vb_diag_join_destroy(own.eventFd) != 0) {
        close(own.eventFd);
        own.eventFd = -1;
    }
    backend->m_ownNamespace = netnsId(static_cast<uint32_t>(getpid()));
    if (own.queryFd >= 0)
        backend->m_namespaces.emplace(backend->m_ownNamespace, own);
    backend->refresh(nullptr);
    return backend;
}

DiagBackend::~DiagBackend()
{
    for (auto& [id, ns] : m_namespaces) {
        (void)id;
        if (ns.queryFd >= 0)
            close(ns.queryFd);
        if (ns.eventFd >= 0)
            close(ns.eventFd);
    }
}

void DiagBackend::collectEvents()
{
    for (auto& [id, ns] : m_namespaces) {
        if (ns.eventFd < 0)
            continue;
        Collected c;
        vb_diag_read_events(ns.eventFd, collect, &c);
        for (const vb_diag_entry& e : c.entries) {
            auto it = m_sockets.find(e.cookie);
            // Opened and closed between two dumps: no owner to give it to. A socket of
            // another namespace cannot end by a notification from this one.
            if (it == m_sockets.end() || it->second.ns != id)
                continue;
            book(it->second, e.hasCounters ? e.bytesIn : it->second.in,
                 e.hasCounters ? e.bytesOut : it->second.out);
            m_sockets.erase(it);
        }
    }
}

void DiagBackend::refresh(std::vector<ConnectionDataItem>* live)
{
    collectEvents();
    // One dump per network namespace that holds a process; owners from the processes' fds.
    std::unordered_map<uint32_t, uint32_t> owner;
    std::map<uint64_t, uint32_t> present;
    std::unordered_map<uint32_t, std::vector<uint32_t>> coHolders;
    mapSocketOwners(owner, present, &coHolders);
    // Cut a socket only when every process holding it is blocked.
    auto allBlocked = [&](uint32_t ino, uint32_t first) {
        if (!m_blockedPids.count(first))
            return false;
        auto co = coHolders.find(ino);
        if (co != coHolders.end())
            for (uint32_t pid : co->second)
                if (!m_blockedPids.count(pid))
                    return false;
        return true;
    };
    for (auto it = m_namespaces.begin(); it != m_namespaces.end();) {
        if (!present.count(it->first)) {
            close(it->second.queryFd);
            if (it->second.eventFd >= 0)
                close(it->second.eventFd);
            it = m_namespaces.erase(it);
        } else {
            ++it;
        }
    }
    std::map<uint64_t, Seen> now;
    std::map<uint32_t, uint64_t> starts; // each owner's start, read once per refresh
    // Namespaces the opener has made sockets for since the last refresh.
    for (const NamespaceOpener::Opened& o : m_opener->take()) {
        auto asked = m_requested.find(o.nsId);
        const uint32_t uid = asked != m_requested.end() ? asked->second : 0;
        if (asked != m_requested.end())
            m_requested.erase(asked);
        if (o.queryFd < 0)
            continue;
        if (present.count(o.nsId) && !m_namespaces.count(o.nsId) &&
            m_namespaces.size() < MaxWatchedNamespaces && userMayHaveAnother(uid)) {
            m_namespaces.emplace(o.nsId, Namespace{o.queryFd, o.eventFd, uid});
            continue;
        }
        close(o.queryFd);
        if (o.eventFd >= 0)
            close(o.eventFd);
    }
    // A reader gets every namespace dumped; the upkeep between reads the others once a second.
    const auto started = Clock::now();
    const bool foreignDue = live || started - m_foreignDumped >= std::chrono::seconds(1);
    if (foreignDue)
        m_foreignDumped = started;
    std::set<uint64_t> skipped;
    for (const auto& [nsId, pid] : present) {
        if (!nsId)
            continue;
        auto slot = m_namespaces.find(nsId);
        if (slot == m_namespaces.end()) {
            // Users make namespaces at will; two descriptors each must not run the service out
            // of them, and entering them must not hold up its answers.
            uint32_t uid = 0;
            if (m_namespaces.size() + m_opener->pending() < MaxWatchedNamespaces + 1 &&
                !m_requested.count(nsId) && ownerOfProcess(pid, uid) && userMayHaveAnother(uid)) {
                m_requested.emplace(nsId, uid);
                m_opener->request(nsId, pid);
            }
            continue;
        }
        if (!foreignDue && nsId != m_ownNamespace) {
            skipped.insert(nsId);
            continue;
        }
        Collected c;
        vb_diag_dump(slot->second.queryFd, collect, &c);
        for (const vb_diag_entry& e : c.entries) {
            auto o = owner.find(e.inode);
            if (o == owner.end() || e.state == 10 /* listening */)
                continue;
            if (allBlocked(e.inode, o->second))
                vb_diag_destroy(slot->second.queryFd, &e);
            auto known = starts.find(o->second);
            if (known == starts.end())
                known = starts.emplace(o->second, startTicks(o->second)).first;
            now[e.cookie] = Seen{nsId, o->second, known->second, e.bytesIn, e.bytesOut};
            if (live) {
                ConnectionDataItem l;
                l.processId = o->second;
                l.identityWord1 = e.laddr;
                l.identityHalf1 = e.lport;
                l.identityHalf2 = e.rport;
                l.identityWord2 = e.raddr;
                l.identityHalf3 = static_cast<uint16_t>(e.proto);
                l.bytesIn = e.bytesIn;
                l.bytesOut = e.bytesOut;
                live->push_back(l);
                notePid(o->second);
            }
        }
    }
    // Namespaces not dumped this time keep what was seen of them.
    for (const auto& [cookie, seen] : m_sockets)
        if (skipped.count(seen.ns))
            now.emplace(cookie, seen);
    // Sockets gone without a notification (a lost event): keep what they had counted.
    collectEvents();
    for (const auto& [cookie, seen] : m_sockets) {
        if (now.count(cookie))
            continue;
        book(seen, seen.in, seen.out);
    }
    m_sockets = std::move(now);
}

void DiagBackend::book(const Seen& owner, uint64_t in, uint64_t out)
{
    Closed& c = m_history[owner.pid];
    if (owner.start && c.start != owner.start) {
        // A later holder of the pid means the earlier one is dead: its entry ends here. Late
        // bytes of an earlier holder belong to no row any more.
        if (c.start && owner.start < c.start)
            return;
        if (c.start)
            c.item = ConnectionDataHistoryItem{};
        c.start = owner.start;
    }
    c.item.processId = owner.pid;
    c.item.bytesIn += in;
    c.item.bytesOut += out;
}

bool DiagBackend::userMayHaveAnother(uint32_t uid) const
{
    if (uid == 0)
        return true;
    size_t held = 0;
    for (const auto& [id, ns] : m_namespaces)
        held += ns.uid == uid ? 1 : 0;
    for (const auto& [id, asker] : m_requested)
        held += asker == uid ? 1 : 0;
    return held < MaxNamespacesPerUser;
}

bool DiagBackend::connections(std::vector<ConnectionDataItem>& live,
                              std::vector<ConnectionDataHistoryItem>& history)
{
    refresh(&live);
    for (const auto& [pid, c] : m_history) {
        // Held now by a later process, which shows its own bytes only.
        const uint64_t liveStart = startTicks(pid);
        if (c.start && liveStart && c.start < liveStart)
            continue;
        history.push_back(c.item);
        notePid(pid);
    }
    return true;
}

void DiagBackend::tick()
{
    // Frequent dumps keep the owner of short connections known when their end is reported.
    refresh(nullptr);
    TrafficBackend::tick();
}

bool DiagBackend::setExeBlocked(const ExeKey&, bool)
{
    return true; // enforced by cutting sockets at every dump
}

bool DiagBackend::setPidBlocked(uint32_t pid, bool on)
{
    if (on)
        m_blockedPids.insert(pid);
    else
        m_blockedPids.erase(pid);
    return true;
}

void DiagBackend::forgetHistory(uint32_t pid)
{
    m_history.erase(pid);
}

std::vector<uint32_t> DiagBackend::historyPids() const
{
    std::vector<uint32_t> out;
    for (const auto& [pid, h] : m_history)
        out.push_back(pid);
    return out;
}

} // namespace filterd

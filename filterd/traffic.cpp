// SPDX-License-Identifier: GPL-3.0-or-later
#include "traffic.h"

#include "kernel.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
// namespace (a sock_diag dump sees only its own namespace).
void mapSocketOwners(std::unordered_map<uint32_t, uint32_t>& owner,
                     std::map<uint64_t, uint32_t>& namespaces)
{
    for (uint32_t pid : processIds()) {
        std::vector<uint32_t> inodes;
        socketInodes(pid, inodes);
        for (uint32_t ino : inodes)
            owner.emplace(ino, pid);
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
    }
    if (m_execOrder.size() > MaxRemembered) {
        const size_t drop = m_execOrder.size() - MaxRemembered;
        for (size_t i = 0; i < drop; ++i)
            m_execPaths.erase(m_execOrder[i]);
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
    std::map<uint64_t, std::pair<uint32_t, std::unordered_set<uint32_t>>> byNamespace;
    for (uint32_t pid : pids) {
        const uint64_t ns = netnsId(pid);
        if (!ns)
            continue;
        std::vector<uint32_t> inodes;
        socketInodes(pid, inodes);
        auto& slot = byNamespace[ns];
        slot.first = pid;
        slot.second.insert(inodes.begin(), inodes.end());
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
    ExeKey key;
    if (!exeKeyOfFile(path, key))
        return ErrFileNotFound;
    auto it = m_blocks.find(path);
    if (it == m_blocks.end()) {
        if (!setExeBlocked(key, true))
            return ErrNotEnoughMemory;
        it = m_blocks.emplace(path, Block{key, {}}).first;
    }
    blockNewProcesses();
    return ErrSuccess;
}

uint32_t TrafficBackend::unblock(const std::string& path)
{
    auto it = m_blocks.find(path);
    if (it == m_blocks.end())
        return ErrSuccess; // nothing to undo is no failure
    // Another blocked path may name the same file (a link); keep its key then.
    bool shared = false;
    for (const auto& [other, b] : m_blocks)
        if (other != path && b.key == it->second.key)
            shared = true;
    if (!shared)
        setExeBlocked(it->second.key, false);
    for (uint32_t pid : it->second.pids) {
        bool stillBlocked = false;
        for (const auto& [other, b] : m_blocks)
            if (other != path && b.pids.count(pid))
                stillBlocked = true;
        if (!stillBlocked)
            setPidBlocked(pid, false);
    }
    m_blocks.erase(it);
    return ErrSuccess;
}

void TrafficBackend::blockNewProcesses()
{
    if (m_blocks.empty())
        return;
    std::set<uint32_t> fresh;
    for (uint32_t pid : processIds()) {
        ExeKey key;
        if (!exeKeyOfProcess(pid, key))
            continue;
        for (auto& [path, b] : m_blocks) {
            (void)path;
            if (b.key == key && !b.pids.count(pid)) {
                b.pids.insert(pid);
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
            if (!processAlive(*pit)) {
                setPidBlocked(*pit, false);
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
    blockNewProcesses();
    for (auto it = m_knownPaths.begin(); it != m_knownPaths.end();) {
        const uint32_t pid = it->first;
        if (processAlive(pid)) {
            m_deadSince.erase(pid);
            ++it;
            continue;
        }
        auto dead = m_deadSince.emplace(pid, now).first;
        if (now - dead->second > HistoryGrace) {
            forgetHistory(pid);
            m_deadSince.erase(dead);
            it = m_knownPaths.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- cgroup BPF ----

std::unique_ptr<BpfBackend> BpfBackend::start(const std::string& cgroupDir, std::string& error)
{
    if (cgroupDir.empty()) {
        error = "no cgroup2 mount";
        return nullptr;
    }
    char why[256] = {0};
    vb_bpf* b = vb_bpf_start(cgroupDir.c_str(), why, sizeof why);
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
    std::vector<ConnectionDataItem>* live;
    std::set<uint64_t> seen;
    std::vector<uint32_t> owners;
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
    r->live->push_back(l);
    r->owners.push_back(s->tgid);
}

void onHistory(uint32_t tgid, uint64_t rx, uint64_t tx, void* ctx)
{
    static_cast<std::map<uint32_t, ConnectionDataHistoryItem>*>(ctx)->emplace(
        tgid, ConnectionDataHistoryItem{tgid, rx, tx});
}

} // namespace

bool BpfBackend::connections(std::vector<ConnectionDataItem>& live,
                             std::vector<ConnectionDataHistoryItem>& history)
{
    // History first: a socket closing between the two reads is then missing once and counted
    // at the next read, instead of being counted twice.
    std::map<uint32_t, ConnectionDataHistoryItem> hist;
    vb_bpf_read_history(m_bpf, onHistory, &hist);
    SockRead r{&live, {}, {}};
    vb_bpf_read_socks(m_bpf, onSock, &r);
    for (uint32_t pid : r.owners)
        notePid(pid);
    m_historyPids.clear();
    for (const auto& [pid, h] : hist) {
        history.push_back(h);
        m_historyPids.insert(pid);
        notePid(pid);
    }
    return true;
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
    vb_bpf_forget_history(m_bpf, pid);
    m_historyPids.erase(pid);
}

bool BpfBackend::hasHistory(uint32_t pid) const
{
    return m_historyPids.count(pid) != 0;
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
        if (o.queryFd >= 0) {
            m_done.push_back(o);
        } else if (o.eventFd >= 0) {
            close(o.eventFd);
        }
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
        (void)id;
        if (ns.eventFd < 0)
            continue;
        Collected c;
        vb_diag_read_events(ns.eventFd, collect, &c);
        for (const vb_diag_entry& e : c.entries) {
            auto it = m_sockets.find(e.cookie);
            if (it == m_sockets.end())
                continue; // opened and closed between two dumps: no owner to give it to
            ConnectionDataHistoryItem& h = m_history[it->second.pid];
            h.processId = it->second.pid;
            h.bytesIn += e.hasCounters ? e.bytesIn : it->second.in;
            h.bytesOut += e.hasCounters ? e.bytesOut : it->second.out;
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
    mapSocketOwners(owner, present);
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
    // Namespaces the opener has made sockets for since the last refresh.
    for (const NamespaceOpener::Opened& o : m_opener->take()) {
        if (present.count(o.nsId) && !m_namespaces.count(o.nsId) &&
            m_namespaces.size() < MaxWatchedNamespaces) {
            m_namespaces.emplace(o.nsId, Namespace{o.queryFd, o.eventFd});
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
            if (m_namespaces.size() + m_opener->pending() < MaxWatchedNamespaces + 1)
                m_opener->request(nsId, pid);
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
            if (m_blockedPids.count(o->second))
                vb_diag_destroy(slot->second.queryFd, &e);
            now[e.cookie] = Seen{o->second, e.bytesIn, e.bytesOut, nsId};
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
        ConnectionDataHistoryItem& h = m_history[seen.pid];
        h.processId = seen.pid;
        h.bytesIn += seen.in;
        h.bytesOut += seen.out;
    }
    m_sockets = std::move(now);
}

bool DiagBackend::connections(std::vector<ConnectionDataItem>& live,
                              std::vector<ConnectionDataHistoryItem>& history)
{
    refresh(&live);
    for (const auto& [pid, h] : m_history) {
        history.push_back(h);
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

bool DiagBackend::hasHistory(uint32_t pid) const
{
    return m_history.count(pid) != 0;
}

} // namespace filterd

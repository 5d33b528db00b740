// SPDX-License-Identifier: GPL-3.0-or-later
// The service's measuring and blocking. Two mechanisms, chosen at start by what the kernel
// offers:
//  - cgroup BPF at the cgroup2 root (preferred): exact TCP and UDP payload per socket across
//    every network namespace, closed sockets folded into their owner's history inside the
//    kernel, and blocking decided in the kernel for new sockets, connects and sends;
//  - sock_diag polling (fallback): TCP counters only, one dump per network namespace, the
//    final counters of closed sockets from the destroy notifications; blocking by cutting the
//    blocked processes' sockets with SOCK_DESTROY as they appear.
// Both cut a newly blocked process's open sockets with SOCK_DESTROY, since a dropped packet
// only stalls a TCP connection.
#pragma once

#include "procscan.h"
#include "protocol.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

struct vb_bpf;

namespace filterd {

class TrafficBackend : public Backend
{
public:
    void processPaths(std::vector<ProcessPath>& out) override;
    uint32_t block(const std::string& path) override;
    uint32_t blockAs(int callerRoot, uint64_t mountNs, const std::string& path) override;
    bool ownerOfGone(U64 pid, uint32_t& uid) override;
    uint32_t unblock(const std::string& path) override;
    // Periodic upkeep (four times a second): forgets the history of processes gone for a
    // while, catches processes of blocked images started since the last look, and follows a
    // blocked path to the new file when the program is replaced on disk.
    virtual void tick();
    // Where the block list is kept across restarts (empty: nowhere). Restores the blocks saved
    // there; called before any client is served.
    void keepBlocksIn(const std::string& stateFile);
    virtual const char* mechanism() const = 0;
    // What the service installed in the kernel, for its start-up line.
    virtual std::string installed() const { return std::string(); }
    // The proc connector's socket (-1 without one) and its handler: every exec is named at
    // once, so a process that lives only between two reads still gets its path on its row.
    int processEventFd();
    void onProcessEvents();
    ~TrafficBackend() override;

protected:
    struct Block
    {
        // The file the path names now, first, then older images that still run.
        std::vector<ExeKey> keys;
        // Its processes, each with its start, so a reused pid is not taken for one of them.
        std::map<uint32_t, uint64_t> pids;
        // The caller's root the path is resolved in (null: ours), and its mount namespace.
        // Such a block is kept across restarts as long as a process is left in that namespace
        // to resolve the path in again.
        std::shared_ptr<const int> root;
        uint64_t mountNs = 0;
    };
    virtual bool setExeBlocked(const ExeKey& key, bool on) = 0;
    virtual bool setPidBlocked(uint32_t pid, bool on) = 0;
    virtual void forgetHistory(uint32_t pid) = 0;
    // Processes with history, live or gone, named or not.
    virtual std::vector<uint32_t> historyPids() const = 0;
    // Destroys every TCP and UDP socket the given processes hold, in their own namespaces.
    void destroySockets(const std::set<uint32_t>& pids);
    // Remembers the image path of a process seen with traffic, for its dead rows later.
    void notePid(uint32_t pid);
    // Each process with the key of its image, read once per look.
    using Images = std::vector<std::pair<uint32_t, ExeKey>>;
    static Images runningImages();
    void blockNewProcesses(const Images& images);
    void followBlockedPaths(const Images& images);
    bool keyBlockedElsewhere(const std::string& path, const ExeKey& key) const;
    void saveBlocks();

    std::map<std::string, Block> m_blocks;
    // Restored paths that named no file yet (a program being reinstalled): tried again.
    std::set<std::string> m_pendingBlocks;
    std::string m_stateFile;
    std::map<uint32_t, std::string> m_knownPaths;
    // Owners of named processes, so a user still sees their own after they exit.
    std::map<uint32_t, uint32_t> m_owners;
    // Images of recent execs, bounded; consulted for processes that are gone when first seen.
    std::map<uint32_t, std::string> m_execPaths;
    std::vector<uint32_t> m_execOrder;
    int m_procEvents = -2;
    std::map<uint32_t, std::chrono::steady_clock::time_point> m_deadSince;
    std::chrono::steady_clock::time_point m_lastScan{};
};

class BpfBackend : public TrafficBackend
{
public:
    // Null when the programs cannot be loaded or attached; why in error. tableSize (0: the
    // built-in sizes) bounds the kernel's tables; tests make it small to see them overflow.
    static std::unique_ptr<BpfBackend> start(const std::string& cgroupDir, uint32_t tableSize,
                                             std::string& error);
    ~BpfBackend() override;
    bool connections(std::vector<ConnectionDataItem>& live,
                     std::vector<ConnectionDataHistoryItem>& history) override;
    const char* mechanism() const override { return "cgroup-bpf"; }
    std::string installed() const override;
    void counters(uint64_t out[4]);

protected:
    bool setExeBlocked(const ExeKey& key, bool on) override;
    bool setPidBlocked(uint32_t pid, bool on) override;
    void forgetHistory(uint32_t pid) override;
    std::vector<uint32_t> historyPids() const override;

private:
    explicit BpfBackend(vb_bpf* b) : m_bpf(b) {}
    void seedExistingSockets();
    void logLosses();
    vb_bpf* m_bpf;
    // The kernel's history entries: the start of the process each pid's entry stands for.
    std::map<uint32_t, uint64_t> m_historyIdents;
    uint64_t m_reportedLosses[4] = {0, 0, 0, 0};
};

// Opens the sock_diag sockets of network namespaces on a thread of its own: entering a
// namespace takes tens of milliseconds, and users make namespaces at will.
class NamespaceOpener
{
public:
    struct Opened
    {
        uint64_t nsId = 0;
        int queryFd = -1;
        int eventFd = -1; // joined to the destroy notifications; -1 without them
    };
    NamespaceOpener();
    ~NamespaceOpener();
    // Asks for the namespace of pid (once; a request already waiting is not repeated).
    void request(uint64_t nsId, uint32_t pid);
    size_t pending();
    std::vector<Opened> take();

private:
    void run();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<uint64_t, uint32_t> m_wanted;
    std::vector<Opened> m_done;
    bool m_stop = false;
    std::thread m_thread;
};

class DiagBackend : public TrafficBackend
{
public:
    // Null when sock_diag is not there.
    static std::unique_ptr<DiagBackend> start(std::string& error);
    ~DiagBackend() override;
    bool connections(std::vector<ConnectionDataItem>& live,
                     std::vector<ConnectionDataHistoryItem>& history) override;
    void tick() override;
    const char* mechanism() const override { return "sock-diag"; }

protected:
    bool setExeBlocked(const ExeKey& key, bool on) override;
    bool setPidBlocked(uint32_t pid, bool on) override;
    void forgetHistory(uint32_t pid) override;
    std::vector<uint32_t> historyPids() const override;

private:
    struct Namespace
    {
        int queryFd = -1;
        int eventFd = -1;
        uint32_t uid = 0; // the user whose process it was watched for
    };
    struct Seen
    {
        uint64_t ns = 0; // whose destroy notifications may end it
        uint32_t pid = 0;
        uint64_t start = 0; // the owner's start in clock ticks, so a reused pid is told apart
        uint64_t in = 0;
        uint64_t out = 0;
    };
    // Closed sockets' bytes of one process: one entry per pid, its latest holder's.
    struct Closed
    {
        uint64_t start = 0;
        ConnectionDataHistoryItem item;
    };
    void book(const Seen& owner, uint64_t in, uint64_t out);
    void refresh(std::vector<ConnectionDataItem>* live);
    void collectEvents();
    // A dump walks the kernel's global socket tables, a few milliseconds each: the namespaces
    // watched besides the service's own are bounded, and between reads they are dumped once a
    // second only.
    static constexpr size_t MaxWatchedNamespaces = 16;
    // Users make namespaces at will: one user's cannot take every slot from the others.
    // Root's (the service's own, the system's) are not limited but by the total.
    static constexpr size_t MaxNamespacesPerUser = 4;
    bool userMayHaveAnother(uint32_t uid) const;
    // Namespaces asked of the opener, with the user each is for.
    std::map<uint64_t, uint32_t> m_requested;
    uint64_t m_ownNamespace = 0;
    std::chrono::steady_clock::time_point m_foreignDumped{};
    std::map<uint64_t, Namespace> m_namespaces;
    std::unique_ptr<NamespaceOpener> m_opener = std::make_unique<NamespaceOpener>();
    std::map<uint64_t, Seen> m_sockets; // by cookie, from the last dump
    std::map<uint32_t, Closed> m_history;
    std::set<uint32_t> m_blockedPids;
};

// The cgroup2 mount point, empty when there is none.
std::string findCgroup2Root();

} // namespace filterd

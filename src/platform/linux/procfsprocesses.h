// SPDX-License-Identifier: GPL-3.0-or-later
// Processes from procfs. The root is a parameter so tests can point it at a captured tree.
#pragma once

#include "platform/linux/kernelfile.h"
#include "platform/processes.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace vb::platform::linux_ {

class ProcfsProcesses : public IProcesses
{
public:
    explicit ProcfsProcesses(std::string procRoot = "/proc");
    ~ProcfsProcesses() override;
    ProcfsProcesses(const ProcfsProcesses&) = delete;
    ProcfsProcesses& operator=(const ProcfsProcesses&) = delete;
    bool processIds(std::vector<ProcessId>& ids) override;
    std::string imagePath(ProcessId pid) override;
    std::optional<uint64_t> workingSetBytes(ProcessId pid) override;
    uint32_t queryAccess(ProcessId pid) override;
    uint64_t startTime(ProcessId pid) override;
    bool terminate(ProcessId pid, uint64_t startTime, uint32_t waitMs) override;
    ProcessId currentProcessId() override;
    // One read of the process's stat file for start time and working set; the image link is
    // read only for a process not met before (see ImageKey).
    ProcessRecord record(ProcessId pid) override;
    void passEnded() override;
    // The last task id handed out in this pid namespace (loadavg), and the listed processes
    // seen reaped on their pidfds. Only for a /proc of this process's own pid namespace.
    std::optional<TaskStamp> taskStamp() override;
    // Whether an image path is kept for the process (tests).
    bool holdsImageOf(ProcessId pid) const;

    // The VmRSS line of a /proc/<pid>/status text, in bytes; nullopt when absent.
    static std::optional<uint64_t> parseVmRssBytes(const std::string& statusText);
    // The start time (field 22, clock ticks since boot) of a /proc/<pid>/stat text; 0 when
    // the text is not one.
    static uint64_t parseStartTime(const std::string& statText);

    // The fields of a /proc/<pid>/stat text that a pass uses.
    struct StatFields
    {
        std::string name;       // field 2, without its parentheses
        uint64_t startTime = 0; // field 22, clock ticks since boot
        uint64_t rssPages = 0;  // field 24
        uint64_t startCode = 0; // fields 26 to 28: where the program's code and stack lie
        uint64_t endCode = 0;
        uint64_t startStack = 0; // 0 unless the reader may inspect the process
    };
    // False when the text is not a stat line.
    static bool parseStat(const std::string& statText, StatFields& out);

private:
    // A process is one pid and one start time, but exec() gives it another image under both:
    // the kernel then lays out code and stack anew and usually renames it, so those go into
    // the key as well.
    struct ImageKey
    {
        uint64_t startTime;
        std::string name;
        uint64_t startCode, endCode, startStack;
        bool operator==(const ImageKey& o) const
        {
            return startTime == o.startTime && startCode == o.startCode && endCode == o.endCode &&
                   startStack == o.startStack && name == o.name;
        }
    };
    struct KnownImage
    {
        ImageKey key;
        std::string path;
        bool seen = true; // asked about since the last pass ended
    };
    std::string readImageLink(ProcessId pid, uint32_t& access);

    std::string m_root;
    uint64_t m_pageSize;
    mutable std::mutex m_imagesMutex; // the backend is shared by the GUI and worker threads
    std::unordered_map<ProcessId, KnownImage> m_images;

    // Every listed process's pidfd; those not yet seen ending in one epoll set.
    struct ExitWatch
    {
        int fd;
        bool ended; // out of the set, its reaping awaited
    };
    void watchExits(const std::vector<ProcessId>& ids);
    void stopWatching();
    bool ownPidNamespace() const;
    std::mutex m_exitsMutex;
    bool m_watchExits;
    int m_exitPoll = -1;
    std::unordered_map<ProcessId, ExitWatch> m_exitFds;
    std::vector<ProcessId> m_ended; // the ended ones among them
    std::unique_ptr<HeldKernelFile> m_loadavg;
    uint64_t m_exits = 0;
};

} // namespace vb::platform::linux_

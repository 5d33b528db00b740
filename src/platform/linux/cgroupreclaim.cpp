// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cgroupreclaim.h"
#include "platform/linux/kernelfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace vb::platform::linux_ {

namespace {

// The user manager nests slices and scopes a few levels deep; nothing useful lies deeper.
constexpr int kMaxDepth = 4;

std::optional<uint64_t> number(const std::string& text)
{
    return leadingNumber(text.c_str());
}

bool hasWord(const std::string& text, const std::string& word)
{
    std::istringstream in(text);
    std::string w;
    while (in >> w)
        if (w == word)
            return true;
    return false;
}

} // namespace

CgroupReclaim::CgroupReclaim(std::string mountRoot, std::string group, uint64_t pageBytes)
    : m_root(std::move(mountRoot)), m_group(std::move(group)), m_pageBytes(pageBytes)
{}

CgroupReclaim CgroupReclaim::forThisUser()
{
    const std::string mount =
        cgroup2Mount(readWholeFile("/proc/self/mountinfo").value_or("")).value_or("");
    const long page = ::sysconf(_SC_PAGESIZE);
    return CgroupReclaim(
        mount, delegatedGroup(readWholeFile("/proc/self/cgroup").value_or(""), ::getuid()),
        page > 0 ? static_cast<uint64_t>(page) : 4096);
}

std::optional<std::string> CgroupReclaim::cgroup2Mount(const std::string& mountinfo)
{
    // id parent major:minor root mount-point options [optional...] - fstype source super
    std::istringstream in(mountinfo);
    std::string line;
    while (std::getline(in, line)) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string fstype;
        if (!(tail >> fstype) || fstype != "cgroup2")
            continue;
        std::istringstream head(line.substr(0, dash));
        std::string id, parent, dev, root, point;
        if (head >> id >> parent >> dev >> root >> point && !point.empty() && point[0] == '/')
            return point;
    }
    return std::nullopt;
}

std::string CgroupReclaim::delegatedGroup(const std::string& procCgroup, uid_t uid)
{
    const std::string u = std::to_string(uid);
    const std::string manager = "user@" + u + ".service";
    std::istringstream in(procCgroup);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 3, "0::") != 0)
            continue;
        const std::string path = line.substr(3);
        const size_t at = path.find("/" + manager);
        const size_t end = at == std::string::npos ? at : at + 1 + manager.size();
        if (at != std::string::npos && (end == path.size() || path[end] == '/'))
            return path.substr(0, end);
    }
    return "/user.slice/user-" + u + ".slice/" + manager;
}

std::optional<uint64_t> CgroupReclaim::parsePgsteal(const std::string& memoryStat)
{
    std::istringstream in(memoryStat);
    std::string key, value;
    while (in >> key >> value)
        if (key == "pgsteal")
            return number(value);
    return std::nullopt;
}

bool CgroupReclaim::reclaimIn(const std::string& dir, int depth, Result& r)
{
    const auto current = number(readWholeFile(dir + "/memory.current").value_or(""));
    if (!current)
        return false;
    if (*current == 0)
        return true; // holds nothing: nothing to give back
    // Never created: a group without the file is not one to write (O_CREAT stays off).
    const int fd = ::open((dir + "/memory.reclaim").c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (depth >= kMaxDepth)
            return false;
        bool any = false;
        if (DIR* d = ::opendir(dir.c_str())) {
            std::vector<std::string> children;
            while (const dirent* e = ::readdir(d))
                if (e->d_type == DT_DIR && e->d_name[0] != '.')
                    children.push_back(e->d_name);
            ::closedir(d);
            for (const std::string& c : children) {
                std::string child = dir;
                child += '/';
                child += c;
                any = reclaimIn(child, depth + 1, r) || any;
            }
        }
        return any;
    }
    const auto stolen0 = parsePgsteal(readWholeFile(dir + "/memory.stat").value_or(""));
    // All it holds: the kernel reclaims what it can and answers EAGAIN when that fell short,
    // which is the normal end here (pages in use, anonymous pages without swap).
    const std::string amount = std::to_string(*current);
    const ssize_t n = ::write(fd, amount.data(), amount.size());
    const int err = errno;
    ::close(fd);
    if (n < 0 && err != EAGAIN)
        return false;
    const auto stolen1 = parsePgsteal(readWholeFile(dir + "/memory.stat").value_or(""));
    ++r.groups;
    if (stolen0 && stolen1 && *stolen1 > *stolen0)
        r.reclaimedBytes += (*stolen1 - *stolen0) * m_pageBytes;
    return true;
}

CgroupReclaim::Result CgroupReclaim::reclaim()
{
    Result r;
    if (m_root.empty()) {
        r.why = "no cgroup v2 hierarchy is mounted";
        return r;
    }
    if (!hasWord(readWholeFile(m_root + "/cgroup.controllers").value_or(""), "memory")) {
        r.why = "the memory controller is not on cgroup v2 here (the kernel binds it to v1)";
        return r;
    }
    const std::string base = m_root + m_group;
    struct stat st;
    if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        r.why = "the user has no delegated control group (" + m_group + ")";
        return r;
    }
    if (!hasWord(readWholeFile(base + "/cgroup.controllers").value_or(""), "memory")) {
        r.why = "the memory controller is not delegated to " + m_group;
        return r;
    }
    r.available = true;
    if (!reclaimIn(base, 0, r))
        r.why = "no control group of the user's could be asked to reclaim";
    return r;
}

} // namespace vb::platform::linux_

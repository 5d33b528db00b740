// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the memory tests: an enumeration that offers only the processes a test chose
// (so a release never reaches the machine's own processes), children that hold a known
// amount of memory or churn it, readings from /proc/<pid>/status, and work done in a child
// that has given up root for an ordinary user.
#pragma once

#include "platform/linux/procfsprocesses.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <atomic>
#include <csignal>
#include <functional>
#include <grp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>

namespace vbtest {

class ListedProcesses : public vb::platform::linux_::ProcfsProcesses
{
public:
    std::vector<vb::platform::ProcessId> ids;
    bool fail = false;
    bool processIds(std::vector<vb::platform::ProcessId>& out) override
    {
        out.clear();
        if (fail)
            return false;
        out = ids;
        return true;
    }
};

// kB of one "Key:" line of a /proc file in the meminfo layout, -1 when unreadable.
inline qint64 keyedKb(const QString& path, const char* key)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray k = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(k))
            return line.mid(k.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

inline qint64 statusKb(qint64 pid, const char* key)
{
    return keyedKb(QStringLiteral("/proc/%1/status").arg(pid), key);
}

inline qint64 meminfoKb(const char* key)
{
    return keyedKb(QStringLiteral("/proc/meminfo"), key);
}

// Drops root for uid (and its group of the same number) in a forked child; false on failure.
inline bool becomeUser(uid_t uid)
{
    return ::setgroups(0, nullptr) == 0 && ::setresgid(uid, uid, uid) == 0 &&
           ::setresuid(uid, uid, uid) == 0;
}

// Runs fn in a forked child that has given up root for uid; what fn returned (a plain value,
// passed back through a pipe), nothing when the child failed.
template <typename T> class AsUser
{
    static_assert(std::is_trivially_copyable<T>::value, "passed through a pipe");

public:
    // Starts the child; collect() waits for it.
    AsUser(uid_t uid, const std::function<T()>& fn)
    {
        int p[2];
        if (::pipe(p) != 0)
            return;
        m_child = ::fork();
        if (m_child == 0) {
            ::close(p[0]);
            if (!becomeUser(uid))
                ::_exit(90);
            const T value = fn();
            ::_exit(::write(p[1], &value, sizeof value) == ssize_t(sizeof value) ? 0 : 91);
        }
        ::close(p[1]);
        m_read = p[0];
    }
    ~AsUser() { collect(); }
    std::optional<T> collect()
    {
        if (m_child > 0) {
            T value{};
            const bool got = ::read(m_read, &value, sizeof value) == ssize_t(sizeof value);
            int status = 0;
            ::waitpid(m_child, &status, 0);
            m_child = -1;
            if (got && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                m_value = value;
        }
        if (m_read >= 0)
            ::close(m_read);
        m_read = -1;
        return m_value;
    }

private:
    pid_t m_child = -1;
    int m_read = -1;
    std::optional<T> m_value;
};

template <typename T> std::optional<T> asUser(uid_t uid, const std::function<T()>& fn)
{
    return AsUser<T>(uid, fn).collect();
}

#ifdef VB_MEMHOLD
// A memhold child: fileMb of a file mapped and read, anonMb of anonymous memory touched; with
// uid, run as that user.
class Holder
{
public:
    Holder(const QString& file, int fileMb, int anonMb, uid_t uid = 0)
        : Holder({file, QString::number(fileMb), QString::number(anonMb)}, uid)
    {}
    // memhold with these arguments (--churn MB: memory taken and given back over and over).
    explicit Holder(const QStringList& args, uid_t uid = 0)
    {
        m_proc.setProgram(QStringLiteral(VB_MEMHOLD));
        m_proc.setArguments(args);
        m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (uid != 0)
            m_proc.setChildProcessModifier([uid] {
                if (!becomeUser(uid))
                    ::_exit(90);
            });
        m_proc.start();
    }
    ~Holder()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.closeWriteChannel(); // it ends when its input closes
            if (!m_proc.waitForFinished(5000)) {
                m_proc.kill();
                m_proc.waitForFinished(5000);
            }
        }
    }
    // Waits (bounded) for "ready"; false when the child did not get there.
    bool ready() { return waitFor("ready", 1); }
    // Has the child read every page again and waits (bounded) until it says it has, so no
    // late reading lands on what a test does next.
    bool touch()
    {
        const int before = m_out.count("touched");
        ::kill(static_cast<pid_t>(pid()), SIGUSR1);
        return waitFor("touched", before + 1);
    }
    qint64 pid() const { return m_proc.processId(); }
    QProcess& process() { return m_proc; }

private:
    bool waitFor(const char* word, int times)
    {
        for (int i = 0; i < 300 && m_out.count(word) < times; ++i) {
            if (!m_proc.waitForReadyRead(100) && m_proc.state() == QProcess::NotRunning)
                break;
            m_out += m_proc.readAllStandardOutput();
        }
        return m_out.count(word) >= times;
    }

    QProcess m_proc;
    QByteArray m_out;
};
#endif

} // namespace vbtest

// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the memory tests: an enumeration that offers only the processes a test chose
// (so a release never reaches the machine's own processes), children that hold a known
// amount of memory, and readings from /proc/<pid>/status.
#pragma once

#include "platform/linux/procfsprocesses.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

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

// kB of one "Key:" line of /proc/<pid>/status, -1 when unreadable.
inline qint64 statusKb(qint64 pid, const char* key)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray k = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(k))
            return line.mid(k.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

inline qint64 meminfoKb(const char* key)
{
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray k = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(k))
            return line.mid(k.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

#ifdef VB_MEMHOLD
// A memhold child: fileMb of a file mapped and read, anonMb of anonymous memory touched.
class Holder
{
public:
    Holder(const QString& file, int fileMb, int anonMb)
    {
        m_proc.setProgram(QStringLiteral(VB_MEMHOLD));
        m_proc.setArguments({file, QString::number(fileMb), QString::number(anonMb)});
        m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
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
    bool ready()
    {
        for (int i = 0; i < 300 && !m_out.contains("ready"); ++i) {
            if (!m_proc.waitForReadyRead(100) && m_proc.state() == QProcess::NotRunning)
                break;
            m_out += m_proc.readAllStandardOutput();
        }
        return m_out.contains("ready");
    }
    qint64 pid() const { return m_proc.processId(); }
    QProcess& process() { return m_proc; }

private:
    QProcess m_proc;
    QByteArray m_out;
};
#endif

} // namespace vbtest

// SPDX-License-Identifier: GPL-3.0-or-later
// A memory and CPU source that reads /proc-format texts: captured fixture files, or the live
// /proc files as an independent second reading next to the backend under test.
#pragma once

#include "platform/memory.h"

#include <QFile>

#include <deque>

class ProcTextSource : public vb::platform::ISystemMemory
{
public:
    QString meminfoPath;
    std::deque<QString> statPaths; // one file per reading; the live file is read every time
    bool liveStat = false;
    uint32_t tick = 0;

    static bool parseMeminfo(const QByteArray& text, vb::platform::MemoryStatus& out)
    {
        quint64 totalKb = 0, availKb = 0;
        bool haveTotal = false, haveAvail = false;
        for (const QByteArray& line : text.split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() < 2)
                continue;
            bool ok = false;
            const quint64 v = f[1].toULongLong(&ok);
            if (!ok)
                continue;
            if (f[0] == "MemTotal:") {
                totalKb = v;
                haveTotal = true;
            } else if (f[0] == "MemAvailable:") {
                availKb = v;
                haveAvail = true;
            }
        }
        if (!haveTotal || !haveAvail || totalKb == 0 || availKb > totalKb)
            return false;
        out.totalPhysBytes = totalKb * 1024;
        out.availPhysBytes = availKb * 1024;
        out.memoryLoad = uint32_t((totalKb - availKb) * 100 / totalKb);
        return true;
    }

    // The summed "cpu" line in ticks of 1/100 s, turned into 100 ns units.
    static bool parseStat(const QByteArray& text, vb::platform::SystemTimes& out)
    {
        const QByteArray first = text.left(text.indexOf('\n')).simplified();
        const QList<QByteArray> f = first.split(' ');
        if (f.size() < 8 || f[0] != "cpu")
            return false;
        quint64 v[7];
        for (int i = 0; i < 7; ++i) {
            bool ok = false;
            v[i] = f[i + 1].toULongLong(&ok);
            if (!ok)
                return false;
        }
        constexpr quint64 kUnitsPerTick = 100000; // 10 ms in 100 ns
        const quint64 user = v[0] + v[1], system = v[2], idle = v[3] + v[4], irq = v[5] + v[6];
        out.idle = idle * kUnitsPerTick;
        out.kernel = (system + irq + idle) * kUnitsPerTick;
        out.user = user * kUnitsPerTick;
        return true;
    }

    bool memoryStatus(vb::platform::MemoryStatus& out) override
    {
        return parseMeminfo(read(meminfoPath), out);
    }
    bool systemTimes(vb::platform::SystemTimes& out) override
    {
        if (liveStat)
            return parseStat(read(QStringLiteral("/proc/stat")), out);
        if (statPaths.empty())
            return false;
        const QString path = statPaths.front();
        statPaths.pop_front();
        return parseStat(read(path), out);
    }
    uint32_t tickCountMs() override { return tick; }
    void sleepMs(uint32_t ms) override { tick += ms; }

private:
    static QByteArray read(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }
};

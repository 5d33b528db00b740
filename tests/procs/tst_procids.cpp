// SPDX-License-Identifier: GPL-3.0-or-later
// The process-id walk: its growing buffer, the ids it passes and when it stops.
#include "platform/fake/fakeprocs.h"
#include "platform/linux/procfsprocesses.h"
#include "procs/procids.h"

#include <QProcess>
#include <QtTest>

#include <unistd.h>

using namespace vb::platform;

class TestProcIds : public QObject
{
    Q_OBJECT
    std::shared_ptr<fake::FakeProcesses> m_fake;
    std::shared_ptr<IProcesses> m_procs; // what enumProcessIds is given

    void useFake(size_t count, ProcessId first = 1)
    {
        m_fake = std::make_shared<fake::FakeProcesses>();
        for (size_t i = 0; i < count; ++i)
            m_fake->procs[first + static_cast<ProcessId>(i)] = {};
        m_procs = m_fake;
    }

private Q_SLOTS:
    void growsWhileTheBufferIsFull_data()
    {
        QTest::addColumn<int>("processes");
        QTest::addColumn<QList<uint>>("capacities");
        QTest::newRow("few") << 10 << QList<uint>{16384};
        QTest::newRow("one short of full") << 4095 << QList<uint>{16384};
        QTest::newRow("exactly full") << 4096 << QList<uint>{16384, 32768};
        QTest::newRow("one more than full") << 4097 << QList<uint>{16384, 32768};
        QTest::newRow("twice full") << 8192 << QList<uint>{16384, 32768, 65536};
    }
    void growsWhileTheBufferIsFull()
    {
        QFETCH(int, processes);
        QFETCH(QList<uint>, capacities);
        useFake(static_cast<size_t>(processes));
        int calls = 0;
        QVERIFY(enumProcessIds(m_procs, [&](ProcessId) { return ++calls > 0; }));
        QCOMPARE(calls, processes);
        QCOMPARE(QList<uint>(m_fake->enumCapacities.begin(), m_fake->enumCapacities.end()),
                 capacities);
    }

    void skipsZeroAndKeepsTheSystemsOrder()
    {
        useFake(0);
        m_fake->order = {7, 0, 3, 0, 12};
        std::vector<ProcessId> seen;
        QVERIFY(enumProcessIds(m_procs, [&](ProcessId id) {
            seen.push_back(id);
            return true;
        }));
        QCOMPARE(seen, (std::vector<ProcessId>{7, 3, 12}));
    }

    void stopsAtTheFirstFalse()
    {
        useFake(50);
        int calls = 0;
        QVERIFY(enumProcessIds(m_procs, [&](ProcessId) {
            ++calls;
            return false;
        }));
        QCOMPARE(calls, 1);
    }

    void failureCallsNothing()
    {
        useFake(5);
        m_fake->failEnum = true;
        int calls = 0;
        QVERIFY(!enumProcessIds(m_procs, [&](ProcessId) {
            ++calls;
            return true;
        }));
        QCOMPARE(calls, 0);
    }

    void realProcessesIncludeOurChildAndOurselves()
    {
        m_procs = std::make_shared<linux_::ProcfsProcesses>();
        QProcess child;
        child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted());
        const ProcessId childPid = static_cast<ProcessId>(child.processId());
        bool sawChild = false, sawSelf = false, sawZero = false;
        QVERIFY(enumProcessIds(m_procs, [&](ProcessId id) {
            sawChild |= id == childPid;
            sawSelf |= id == static_cast<ProcessId>(::getpid());
            sawZero |= id == 0;
            return true;
        }));
        child.kill();
        child.waitForFinished();
        QVERIFY(sawChild);
        QVERIFY(sawSelf);
        QVERIFY(!sawZero);
    }
};

QTEST_GUILESS_MAIN(TestProcIds)
#include "tst_procids.moc"

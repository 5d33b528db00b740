// SPDX-License-Identifier: GPL-3.0-or-later
// The fix against a real systemd; runs inside the test box (test_systemd.sh), as root and
// again as an ordinary user, whose stops the manager refuses.
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"
#include "platform/linux/procfsprocesses.h"
#include "platform/linux/systemdservices.h"
#include "unitfix.h"

#include <QFile>
#include <QtTest>

#include <unistd.h>

using namespace vb::platform;
using vb::test::unitRow;

class TestSystemdFix : public QObject
{
    Q_OBJECT
    std::shared_ptr<linux_::SystemdServices> m_services;
    Platform m_backends;
    bool m_root = ::geteuid() == 0;

    ServiceRunState state(const char* unit)
    {
        ServiceInfo s;
        return m_services->queryService(unit, s) == ErrSuccess ? s.state : ServiceRunState(0);
    }
    std::unique_ptr<ProcDataList> listOf(QList<ProcListItem> rows)
    {
        return vb::test::listOf(m_backends, std::move(rows));
    }
    QPair<uint, quint64> fix(ProcDataList& list, bool releaseMemory = false)
    {
        return vb::test::fixOf(list, releaseMemory);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_services = std::make_shared<linux_::SystemdServices>();
        m_backends.services = m_services;
        m_backends.processes = std::make_shared<linux_::ProcfsProcesses>();
        m_backends.memory = std::make_shared<linux_::ProcfsMemory>();
        m_backends.workingSets = std::make_shared<linux_::PidfdWorkingSets>();
        QCOMPARE(state("vbt-fix-user.service"), SvcRunning);
    }

    void stoppingTheBottomOfAChainStopsItsDependentsFirst()
    {
        if (!m_root)
            QSKIP("ordinary users may not stop units; see theManagerRefusingAStop");
        for (const char* u : {"vbt-chain-a.service", "vbt-chain-b.service", "vbt-chain-c.service"})
            QCOMPARE(state(u), SvcRunning);
        auto list = listOf({unitRow("vbt-chain-c.service")});
        QCOMPARE(fix(*list), (QPair<uint, quint64>(1, 1000)));
        for (const char* u : {"vbt-chain-a.service", "vbt-chain-b.service", "vbt-chain-c.service"})
            QCOMPARE(state(u), SvcStopped);
        QFile log(QStringLiteral("/run/vbt-stops"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("vbt-chain-a.service\nvbt-chain-b.service\n"
                                           "vbt-chain-c.service\n"));
    }

    void anInactiveUnitCountsAsClosed()
    {
        QCOMPARE(state("vbt-idle.service"), SvcStopped);
        auto list = listOf({unitRow("vbt-idle.service")});
        QCOMPARE(fix(*list).first, 1u);
        QCOMPARE(state("vbt-idle.service"), SvcStopped);
    }

    void aUnitTooSlowToStopIsNotCountedAndTheFixGoesOn()
    {
        if (!m_root)
            QSKIP("ordinary users may not stop units");
        auto list = listOf({unitRow("vbt-fix-slow1.service"), unitRow("vbt-fix-3.service", false),
                            unitRow("vbt-fix-1.service")});
        QCOMPARE(fix(*list), (QPair<uint, quint64>(1, 1000)));
        QCOMPARE(state("vbt-fix-slow1.service"), SvcStopPending);
        QCOMPARE(state("vbt-fix-1.service"), SvcStopped);
        QCOMPARE(state("vbt-fix-3.service"), SvcRunning); // not ticked
    }

    void twoListsFixAtOnce()
    {
        if (!m_root)
            QSKIP("ordinary users may not stop units");
        auto office = listOf({unitRow("vbt-fix-slow2.service")});
        auto game = listOf({unitRow("vbt-fix-2.service")});
        QSignalSpy officeDone(office.get(), &ProcDataList::fixResultChanged);
        office->beginFix(false);
        // The Game list's fix ends while the Office list still waits for its slow unit.
        QCOMPARE(fix(*game).first, 1u);
        QVERIFY(office->isFixing());
        QCOMPARE(state("vbt-fix-2.service"), SvcStopped);
        QVERIFY(officeDone.wait(30000));
        QCOMPARE(officeDone[0][0].toUInt(), 0u);
    }

    void releasingMemoryWithNothingTickedCountsOne()
    {
        auto list = listOf({unitRow("vbt-fix-user.service", false)});
        QCOMPARE(fix(*list, true).first, 1u);
        QCOMPARE(state("vbt-fix-user.service"), SvcRunning);
    }

    void theManagerRefusingAStop()
    {
        if (m_root)
            QSKIP("root may stop anything; the user run covers this case");
        auto list = listOf({unitRow("vbt-fix-user.service"), unitRow("vbt-idle.service")});
        QCOMPARE(fix(*list).first, 1u); // the inactive one only
        QCOMPARE(state("vbt-fix-user.service"), SvcRunning);
    }
};

QTEST_GUILESS_MAIN(TestSystemdFix)
#include "tst_systemdfix.moc"

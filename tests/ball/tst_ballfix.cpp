// SPDX-License-Identifier: GPL-3.0-or-later
// The ball's side of the boost lists: which list a page or a host shortcut reaches, the
// record of the last fix, and a fix in one list marking the other stale.
#include "../lib/processfakes.h"
#include "../lib/testplatform.h"
#include "ball/ballviewer.h"
#include "flow/flowdatalist.h"
#include "procs/procdatalist.h"

#include <QSignalSpy>
#include <QtTest>

using namespace vb::platform;

class TestBallFix : public QObject
{
    Q_OBJECT
    vb::test::ProcessFakes m_fakes;
    Platform m_backends;

    static QStringList names(const ProcDataList& list)
    {
        QStringList out;
        for (const ProcListItem& r : list.items())
            if (r.kind == PK_Process)
                out << QString::fromStdWString(r.isService ? r.serviceName : r.path);
        return out;
    }

private Q_SLOTS:
    void init()
    {
        m_fakes = {};
        m_backends = m_fakes.into(vb::test::BallFakes().platform());
        // Office advises the first service, Game the second.
        vb::test::publishUserConfig({{"office.service", CF_Office}, {"game.service", CF_Game}});
        m_fakes.addService("office.service", 30, 3000);
        m_fakes.addService("game.service", 31, 5000);
    }

    void thePageShownIsTheListEnumerated()
    {
        BallViewer ball(nullptr, m_backends);
        QCOMPARE(ball.lastFixCount(), 0u);
        QCOMPARE(ball.lastFixMemoryStr(), QStringLiteral("0.00 B"));
        ball.setCurrentProcPage(BallViewer::PP_Game);
        QCOMPARE(names(*ball.procDataListGame()), QStringList{QStringLiteral("game.service")});
        QCOMPARE(ball.procDataListOffice()->rowCount(), 0);
        ball.setCurrentProcPage(BallViewer::PP_NONE);
        ball.needEnumCurrent();
        QCOMPARE(ball.procDataListOffice()->rowCount(), 0);
        ball.setCurrentProcPage(BallViewer::PP_Office);
        QCOMPARE(names(*ball.procDataListOffice()), QStringList{QStringLiteral("office.service")});
    }

    void everyFixOfEitherListIsRecorded()
    {
        BallViewer ball(nullptr, m_backends);
        QSignalSpy info(&ball, &BallViewer::lastFixInfoChanged);
        ball.needEnumCurrent(); // the Office page is shown first
        ball.fixCurrent();
        QVERIFY(info.wait(10000));
        QCOMPARE(info.takeFirst(), (QList<QVariant>{1u, quint64(3000)}));
        QCOMPARE(ball.lastFixCount(), 1u);
        QCOMPARE(ball.lastFixMemory(), quint64(3000));
        QCOMPARE(ball.lastFixMemoryStr(), QStringLiteral("2.93 KB"));
        ball.setCurrentProcPage(BallViewer::PP_Game);
        ball.fixCurrent(false);
        QVERIFY(info.wait(10000));
        QCOMPARE(info.takeFirst(), (QList<QVariant>{1u, quint64(5000)}));
        // Equal numbers are told again: nothing ticked, memory released twice.
        for (int i = 0; i < 2; ++i) {
            ball.fixCurrent(true);
            QVERIFY(info.wait(10000));
            QCOMPARE(info.takeFirst(), (QList<QVariant>{1u, quint64(0)}));
        }
    }

    void noPageNoFix()
    {
        BallViewer ball(nullptr, m_backends);
        ball.needEnumCurrent();
        ball.setCurrentProcPage(BallViewer::PP_NONE);
        QSignalSpy office(ball.procDataListOffice().get(), &ProcDataList::isFixingChanged);
        QSignalSpy game(ball.procDataListGame().get(), &ProcDataList::isFixingChanged);
        QSignalSpy info(&ball, &BallViewer::lastFixInfoChanged);
        ball.fixCurrent(true);
        ball.fixCurrent();
        QVERIFY(!info.wait(200));
        QCOMPARE(office.size() + game.size(), 0);
        QVERIFY(m_fakes.services->stopped.empty());
    }

    void aFixMakesTheOtherListStale()
    {
        BallViewer ball(nullptr, m_backends);
        auto office = ball.procDataListOffice();
        auto game = ball.procDataListGame();
        ball.setCurrentProcPage(BallViewer::PP_Game);
        m_fakes.addService("late.service", 40, 10); // listed by neither until it is stale
        vb::test::publishUserConfig({{"office.service", CF_Office},
                                     {"game.service", CF_Game},
                                     {"late.service", CF_Office | CF_Game}});
        ball.needEnumCurrent();
        QCOMPARE(names(*game), QStringList{QStringLiteral("game.service")});
        ball.setCurrentProcPage(BallViewer::PP_Office);
        QSignalSpy done(office.get(), &ProcDataList::fixResultChanged);
        office->qmlSelect(2); // keep late.service running; close office.service only
        ball.fixCurrent();
        QVERIFY(done.wait(10000));
        ball.setCurrentProcPage(BallViewer::PP_Game);
        QCOMPARE(names(*game),
                 (QStringList{QStringLiteral("game.service"), QStringLiteral("late.service")}));
    }

    void processChangesMakeBothListsStale()
    {
        BallViewer ball(nullptr, m_backends);
        ball.needEnumCurrent();
        m_fakes.addService("late.service", 40, 10);
        vb::test::publishUserConfig({{"office.service", CF_Office}, {"late.service", CF_Office}});
        ball.needEnumCurrent();
        QCOMPARE(ball.procDataListOffice()->rowCount(), 2);
        Q_EMIT ball.flowDataList()->processChanged();
        ball.needEnumCurrent();
        QCOMPARE(ball.procDataListOffice()->rowCount(), 3);
    }
};

QTEST_MAIN(TestBallFix)
#include "tst_ballfix.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Per-process rows of a sample: grouping, history, dead rows, deltas and their order.
#include "flow/flowaggregate.h"
#include "platform/fake/fakefilter.h"
#include "platform/platform.h"

#include <QTest>

using namespace vb::platform;

namespace {

// "pid:count:in/dIn:out/dOut:interval[:dead]" per row, joined by " ".
QString describe(const QList<FlowDataProc>& rows)
{
    QStringList parts;
    for (const FlowDataProc& r : rows)
        parts << QStringLiteral("%1:%2:%3/%4:%5/%6:%7%8")
                     .arg(r.pid)
                     .arg(r.connectionCount)
                     .arg(r.flowIn)
                     .arg(r.flowInDelta)
                     .arg(r.flowOut)
                     .arg(r.flowOutDelta)
                     .arg(r.intervalMs)
                     .arg(r.dead ? QStringLiteral(":dead") : QString());
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestFlowAggregate : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // No device: rows get empty paths without asking anything.
        m_device = std::make_shared<fake::ScriptedFilterDevice>();
        m_device->allowRead = m_device->allowWrite = false;
        resetProcessPathCache();
    }

    void rows_data()
    {
        QTest::addColumn<QString>("liveText");     // "pid,in,out;..."
        QTest::addColumn<QString>("historyText");  // "pid,in,out;..."
        QTest::addColumn<QString>("previousText"); // "pid,in,out;..."
        QTest::addColumn<uint>("interval");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("totals"); // "in/dIn out/dOut"
        QTest::newRow("first sample: no deltas") << "7,10,20;3,1,2;7,5,5"
                                                 << ""
                                                 << "" << 0u << "3:1:1/0:2/0:0 7:2:15/0:25/0:0"
                                                 << "16/0 27/0";
        QTest::newRow("history joins live bytes") << "4,100,200"
                                                  << "4,1000,2000"
                                                  << "" << 0u << "4:1:1100/0:2200/0:0"
                                                  << "1100/0 2200/0";
        QTest::newRow("deltas against the previous sample")
            << "4,150,260;5,9,9"
            << ""
            << "4,100,200" << 1003u << "4:1:150/50:260/60:1003 5:1:9/0:9/0:1003"
            << "159/50 269/60";
        QTest::newRow("unchanged counts: delta 0") << "4,100,200"
                                                   << ""
                                                   << "4,100,200" << 1000u << "4:1:100/0:200/0:1000"
                                                   << "100/0 200/0";
        QTest::newRow("counter went backwards: delta 0")
            << "4,90,150"
            << ""
            << "4,100,200" << 1000u << "4:1:90/0:150/0:1000"
            << "90/0 150/0";
        QTest::newRow("dead rows after live ones, ascending")
            << "9,1,1"
            << "12,5,6;2,7,8"
            << "2,1,1" << 1000u << "9:1:1/0:1/0:1000 2:0:7/0:8/0:0:dead 12:0:5/0:6/0:0:dead"
            << "13/0 15/0";
    }

    void rows()
    {
        QFETCH(QString, liveText);
        QFETCH(QString, historyText);
        QFETCH(QString, previousText);
        QFETCH(uint, interval);
        QFETCH(QString, rows);
        QFETCH(QString, totals);
        auto parse = [](const QString& text, auto&& add) {
            for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const QStringList f = part.split(QLatin1Char(','));
                add(f[0].toULongLong(), f[1].toULongLong(), f[2].toULongLong());
            }
        };
        std::vector<ConnectionDataItem> live;
        parse(liveText,
              [&](quint64 p, quint64 i, quint64 o) { live.push_back(fake::connection(p, i, o)); });
        std::map<quint64, ConnectionDataHistoryItem> history;
        parse(historyText, [&](quint64 p, quint64 i, quint64 o) {
            history.emplace(p, ConnectionDataHistoryItem{p, i, o});
        });
        FlowAggregateMap previous;
        parse(previousText, [&](quint64 p, quint64 i, quint64 o) {
            previous[p] = FlowAggregate{1, i, o};
        });
        const FlowSample s = aggregateFlows(live, history, previous, interval, {m_device, {}});
        QCOMPARE(describe(*s.rows), rows);
        QCOMPARE(QStringLiteral("%1/%2 %3/%4")
                     .arg(s.flowIn)
                     .arg(s.flowInDelta)
                     .arg(s.flowOut)
                     .arg(s.flowOutDelta),
                 totals);
        for (const FlowDataProc& r : *s.rows) {
            QCOMPARE(r.dead, r.connectionCount == 0); // a live row never has count 0
            QCOMPARE(s.current.count(r.pid) == 1,
                     !r.dead); // dead rows never become previous values
        }
    }

private:
    std::shared_ptr<fake::ScriptedFilterDevice> m_device;
};

QTEST_GUILESS_MAIN(TestFlowAggregate)
#include "tst_flowaggregate.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic model on its own: samples fed to its slot, checked with Qt's model tester, the
// texts at their unit boundaries, the hide filters and blocking through a scripted device.
#include "../lib/files.h"
#include "flow/flowdatalist.h"
#include "platform/fake/fakefilter.h"
#include "platform/platform.h"

#include "helper/extractfileicon.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {
FlowDataProc row(quint64 pid, uint connections, quint64 in, quint64 inDelta, quint64 out,
                 quint64 outDelta, uint intervalMs, const QString& path = QString())
{
    FlowDataProc r;
    r.pid = pid;
    r.path = path;
    r.connectionCount = connections;
    r.flowIn = in;
    r.flowInDelta = inDelta;
    r.flowOut = out;
    r.flowOutDelta = outDelta;
    r.intervalMs = intervalMs;
    r.dead = connections == 0;
    r.system = path.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0;
    return r;
}

FlowDataList_ptr sample(std::initializer_list<FlowDataProc> rows)
{
    return std::make_shared<QList<FlowDataProc>>(rows);
}

// A fresh sample the test fills in before the model sees it.
std::shared_ptr<TotalMemoryCpuFlowInfo> info(quint32 load, quint32 cpu, quint64 avail = 0)
{
    auto i = std::make_shared<TotalMemoryCpuFlowInfo>();
    i->memoryLoad = load;
    i->cpuUsage = cpu;
    i->availPhys = avail;
    return i;
}

QList<quint64> pids(const FlowDataList& m)
{
    QList<quint64> out;
    for (const FlowDataProc& r : m.rows())
        out.append(r.pid);
    return out;
}

QVariant at(const FlowDataList& m, int row, int role)
{
    return m.data(m.index(row), role);
}
} // namespace

class TestFlowDataList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void startsEmpty();
    void speedText_data();
    void speedText();
    void sizeTextOfTotals_data();
    void sizeTextOfTotals();
    void roles();
    void rowsChangeInPlace();
    void emptyListKeepsRowsButUpdatesFigures();
    void totalsAndGradeFollowTheSample();
    void connectionStateSignalsOnlyOnChange();
    void hideHistoryAndSystem();
    void blockAndUnblock();
    void blockRefusedOrReadOnly();
    void blockOutOfRange_data();
    void blockOutOfRange();
    void processChangedIsPassedOn();
    void iconFromTheDesktopEntry();

private:
    std::shared_ptr<vb::platform::fake::ScriptedFilterDevice> m_device;
    vb::platform::Platform m_backends;
};

void TestFlowDataList::init()
{
    m_device = std::make_shared<vb::platform::fake::ScriptedFilterDevice>();
    m_device->script->useTables = true;
    m_device->caseSensitive = true;
    m_backends = vb::platform::Platform();
    m_backends.filterDevice = m_device;
}

void TestFlowDataList::startsEmpty()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.totalIn(), QString());
    QCOMPARE(model.totalOut(), QString());
    QCOMPARE(model.totalInSpeed(), QString());
    QCOMPARE(model.totalOutSpeed(), QString());
    QCOMPARE(model.memoryUsage(), 0u);
    QCOMPARE(model.cpuUsage(), 0u);
    QCOMPARE(model.performanceGrade(), 50u);
    QVERIFY(!model.networkConnected());
    QVERIFY(!model.hideSystem());
    QVERIFY(!model.hideHistory());
    const auto names = model.roleNames();
    QCOMPARE(names.value(33), QByteArray("role_title"));
    QCOMPARE(names.value(34), QByteArray("role_proc_name"));
    QCOMPARE(names.value(39), QByteArray("role_flow_total"));
    QCOMPARE(names.value(43), QByteArray("role_icon"));
    QCOMPARE(names.size(), 11);
}

void TestFlowDataList::speedText_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<quint32>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("no interval") << quint64(5000) << 0u << QStringLiteral("0 B/s");
    QTest::newRow("nothing moved") << quint64(0) << 1000u << QStringLiteral("0.00 B/s");
    QTest::newRow("500 B in a second") << quint64(500) << 1000u << QStringLiteral("500.00 B/s");
    QTest::newRow("1536 B in a second") << quint64(1536) << 1000u << QStringLiteral("1.50 KB/s");
    QTest::newRow("3 MiB in a second")
        << quint64(3 * 1048576) << 1000u << QStringLiteral("3.00 MB/s");
    QTest::newRow("just under a KiB/s") << quint64(1023) << 1000u << QStringLiteral("1023.00 B/s");
    QTest::newRow("one KiB/s") << quint64(1024) << 1000u << QStringLiteral("1.00 KB/s");
    QTest::newRow("just under a MiB/s")
        << quint64(1048575) << 1000u << QStringLiteral("1024.00 KB/s");
    QTest::newRow("one MiB/s") << quint64(1048576) << 1000u << QStringLiteral("1.00 MB/s");
    QTest::newRow("measured interval, not nominal")
        << quint64(1500) << 2000u << QStringLiteral("750.00 B/s");
    QTest::newRow("a long interval") << quint64(4096) << 4000u << QStringLiteral("1.00 KB/s");
    QTest::newRow("no GB/s unit") << quint64(5) * 1073741824 << 1000u
                                  << QStringLiteral("5120.00 MB/s");
}

void TestFlowDataList::speedText()
{
    QFETCH(quint64, bytes);
    QFETCH(quint32, ms);
    QTEST(FlowDataList::speedText(bytes, ms), "text");
    // The row and the totals say the same thing for the same counts.
    FlowDataList model(m_backends);
    auto i = info(0, 0);
    i->flowInDelta = bytes;
    i->flowOutDelta = bytes;
    i->intervalMs = ms;
    model.onDataFound(sample({row(1, 1, bytes, bytes, 0, bytes, ms)}), i, false);
    QTEST(model.totalInSpeed(), "text");
    QTEST(model.totalOutSpeed(), "text");
    QTEST(at(model, 0, FlowDataList::role_flow_in_speed).toString(), "text");
    QTEST(at(model, 0, FlowDataList::role_flow_out_speed).toString(), "text");
}

void TestFlowDataList::sizeTextOfTotals_data()
{
    QTest::addColumn<quint64>("in");
    QTest::addColumn<quint64>("out");
    QTest::addColumn<QString>("total");
    QTest::newRow("nothing") << quint64(0) << quint64(0) << QStringLiteral("0.00 B");
    QTest::newRow("1023 B") << quint64(1000) << quint64(23) << QStringLiteral("1023.00 B");
    QTest::newRow("1024 B") << quint64(1000) << quint64(24) << QStringLiteral("1.00 KB");
    QTest::newRow("one and a half MiB")
        << quint64(1048576) << quint64(524288) << QStringLiteral("1.50 MB");
    QTest::newRow("one GiB") << quint64(1073741823) << quint64(1) << QStringLiteral("1.00 GB");
}

void TestFlowDataList::sizeTextOfTotals()
{
    QFETCH(quint64, in);
    QFETCH(quint64, out);
    FlowDataList model(m_backends);
    auto i = info(0, 0);
    i->flowIn = in + out;
    i->flowOut = in;
    model.onDataFound(sample({row(9, 2, in, 0, out, 0, 1000)}), i, true);
    QTEST(at(model, 0, FlowDataList::role_flow_total).toString(), "total");
    QTEST(model.totalIn(), "total");
    QCOMPARE(at(model, 0, FlowDataList::role_flow_in).value<quint64>(), in);
    QCOMPARE(at(model, 0, FlowDataList::role_flow_out).value<quint64>(), out);
}

void TestFlowDataList::roles()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.onDataFound(
        sample({row(10, 3, 100, 10, 50, 5, 1000, QStringLiteral("/usr/bin/firefox-esr")),
                row(11, 1, 0, 0, 0, 0, 1000, QStringLiteral("/opt/my.tool.bin")),
                row(12, 0, 7, 0, 8, 0, 0, QString())}),
        info(10, 10), false);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(at(model, 0, FlowDataList::role_proc_name).toString(), QStringLiteral("firefox-esr"));
    QCOMPARE(at(model, 1, FlowDataList::role_proc_name).toString(), QStringLiteral("my"));
    QCOMPARE(at(model, 2, FlowDataList::role_proc_name).toString(), QString());
    QCOMPARE(at(model, 0, FlowDataList::role_connection_count).toUInt(), 3u);
    QCOMPARE(at(model, 0, FlowDataList::role_dead).toBool(), false);
    QCOMPARE(at(model, 2, FlowDataList::role_dead).toBool(), true);
    QCOMPARE(at(model, 2, FlowDataList::role_connection_count).toUInt(), 0u);
    QCOMPARE(at(model, 0, FlowDataList::role_is_blocked).toBool(), false);
    QCOMPARE(at(model, 2, FlowDataList::role_icon).toString(),
             QStringLiteral("images/icon_proc_default.png"));
    QVERIFY(!at(model, 0, FlowDataList::role_title).isValid());
    QVERIFY(!at(model, 0, Qt::DisplayRole).isValid());
    QVERIFY(!at(model, 0, FlowDataList::role_icon + 1).isValid());
    QVERIFY(!model.data(model.index(3), FlowDataList::role_proc_name).isValid());
    QVERIFY(!model.data(QModelIndex(), FlowDataList::role_proc_name).isValid());
}

void TestFlowDataList::rowsChangeInPlace()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);

    model.onDataFound(sample({row(1, 1, 10, 0, 10, 0, 0), row(2, 1, 20, 0, 20, 0, 0),
                              row(3, 1, 30, 0, 30, 0, 0)}),
                      info(1, 1), true);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted[0][1].toInt(), 0);
    QCOMPARE(inserted[0][2].toInt(), 2);
    QCOMPARE(changed.size(), 0);

    // Same count: every row is reported changed where it stands, nothing inserted or removed.
    model.onDataFound(sample({row(1, 1, 15, 5, 10, 0, 1000), row(4, 2, 40, 0, 40, 0, 1000),
                              row(5, 1, 50, 0, 50, 0, 1000)}),
                      info(1, 1), true);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(removed.size(), 0);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].value<QModelIndex>().row(), 0);
    QCOMPARE(changed[0][1].value<QModelIndex>().row(), 2);
    QCOMPARE(pids(model), (QList<quint64>{1, 4, 5}));
    QCOMPARE(at(model, 0, FlowDataList::role_flow_in_speed).toString(), QStringLiteral("5.00 B/s"));

    // Fewer rows: the tail goes, the head changes in place.
    model.onDataFound(sample({row(4, 2, 44, 4, 40, 0, 1000)}), info(1, 1), true);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed[0][1].toInt(), 1);
    QCOMPARE(removed[0][2].toInt(), 2);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed[1][1].value<QModelIndex>().row(), 0);
    QCOMPARE(pids(model), (QList<quint64>{4}));

    // More rows again: only the new tail is inserted.
    model.onDataFound(sample({row(4, 2, 48, 4, 40, 0, 1000), row(6, 1, 1, 0, 1, 0, 1000)}),
                      info(1, 1), true);
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted[1][1].toInt(), 1);
    QCOMPARE(inserted[1][2].toInt(), 1);

    // Nothing left.
    model.onDataFound(sample({}), info(1, 1), true);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(removed.size(), 2);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(layout.size(), 0);
}

void TestFlowDataList::emptyListKeepsRowsButUpdatesFigures()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.onDataFound(sample({row(1, 1, 10, 0, 10, 0, 0)}), info(20, 30), true);
    QSignalSpy totals(&model, &FlowDataList::totalDataChanged);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.onDataFound(FlowDataList_ptr(), info(21, 31), true);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(totals.size(), 1);
    QCOMPARE(model.memoryUsage(), 21u);
    QCOMPARE(model.cpuUsage(), 31u);
    // A sample without a record (it could not be allocated) takes the figures back to none.
    model.onDataFound(FlowDataList_ptr(), TotalMemoryCpuFlowInfo_ptr(), true);
    QCOMPARE(totals.size(), 2);
    QCOMPARE(model.memoryUsage(), 0u);
    QCOMPARE(model.performanceGrade(), 50u);
    QCOMPARE(model.totalIn(), QString());
}

void TestFlowDataList::totalsAndGradeFollowTheSample()
{
    FlowDataList model(m_backends);
    auto i = info(0, 0, quint64(8) << 30);
    i->flowIn = 1536;
    i->flowOut = 1024 * 1024 * 3;
    i->flowInDelta = 1536;
    i->flowOutDelta = 0;
    i->intervalMs = 1000;
    model.onDataFound(sample({}), i, false);
    QCOMPARE(model.totalIn(), QStringLiteral("1.50 KB"));
    QCOMPARE(model.totalOut(), QStringLiteral("3.00 MB"));
    QCOMPARE(model.totalInSpeed(), QStringLiteral("1.50 KB/s"));
    QCOMPARE(model.totalOutSpeed(), QStringLiteral("0.00 B/s"));
    QCOMPARE(model.performanceGrade(), 75u);
    model.onDataFound(sample({}), info(100, 100, quint64(1) << 30), false);
    QCOMPARE(model.performanceGrade(), 0u);
    QCOMPARE(model.memoryUsage(), 100u);
    QCOMPARE(model.cpuUsage(), 100u);
    // The first traffic sample has no interval: every speed reads "0 B/s".
    QCOMPARE(model.totalInSpeed(), QStringLiteral("0 B/s"));
}

void TestFlowDataList::connectionStateSignalsOnlyOnChange()
{
    FlowDataList model(m_backends);
    QSignalSpy spy(&model, &FlowDataList::networkConnectedChanged);
    model.onDataFound(FlowDataList_ptr(), info(1, 1), false);
    QCOMPARE(spy.size(), 0);
    model.onDataFound(FlowDataList_ptr(), info(1, 1), true);
    model.onDataFound(FlowDataList_ptr(), info(1, 1), true);
    model.onDataFound(FlowDataList_ptr(), info(1, 1), true);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy[0][0].toBool(), true);
    QVERIFY(model.networkConnected());
    model.onDataFound(FlowDataList_ptr(), info(1, 1), false);
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy[1][0].toBool(), false);
}

void TestFlowDataList::hideHistoryAndSystem()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy historySpy(&model, &FlowDataList::hideHistoryChanged);
    QSignalSpy systemSpy(&model, &FlowDataList::hideSystemChanged);
    const auto full = sample({row(1, 1, 1, 0, 1, 0, 0, QStringLiteral("/usr/bin/a")),
                              row(4, 2, 1, 0, 1, 0, 0, QStringLiteral("SYSTEM")),
                              row(7, 0, 1, 0, 1, 0, 0, QStringLiteral("/usr/bin/b")),
                              row(8, 0, 1, 0, 1, 0, 0, QStringLiteral("system"))});
    model.onDataFound(full, info(1, 1), true);
    QCOMPARE(pids(model), (QList<quint64>{1, 4, 7, 8}));

    model.setHideHistory(true); // dead rows go at once
    QCOMPARE(pids(model), (QList<quint64>{1, 4}));
    QCOMPARE(historySpy.size(), 1);
    QCOMPARE(historySpy[0][0].toBool(), true);
    model.setHideHistory(true);
    QCOMPARE(historySpy.size(), 1);

    model.setHideSystem(true);
    QCOMPARE(pids(model), (QList<quint64>{1}));
    QCOMPARE(systemSpy.size(), 1);

    // Hidden rows are gone from the model; they return with the next sample.
    model.setHideHistory(false);
    model.setHideSystem(false);
    QCOMPARE(pids(model), (QList<quint64>{1}));
    QCOMPARE(historySpy.size(), 2);
    QCOMPARE(systemSpy.size(), 2);
    model.onDataFound(full, info(1, 1), true);
    QCOMPARE(pids(model), (QList<quint64>{1, 4, 7, 8}));
    model.setHideSystem(true);
    model.onDataFound(full, info(1, 1), true);
    QCOMPARE(pids(model), (QList<quint64>{1, 7}));
}

void TestFlowDataList::blockAndUnblock()
{
    FlowDataList model(m_backends);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.onDataFound(sample({row(30, 1, 1, 0, 1, 0, 0, QStringLiteral("/usr/bin/Curl")),
                              row(31, 1, 1, 0, 1, 0, 0, QStringLiteral("/usr/bin/wget"))}),
                      info(1, 1), true);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.rowCount(model.index(0)), 0); // rows have no children
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.qmlBlock(0, true));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].value<QModelIndex>().row(), 0);
    QCOMPARE(changed[0][1].value<QModelIndex>().row(), 0);
    // Only the blocked state changed: views need not re-read texts and icons.
    QCOMPARE(changed[0][2].value<QList<int>>(), QList<int>{FlowDataList::role_is_blocked});
    QVERIFY(at(model, 0, FlowDataList::role_is_blocked).toBool());
    QVERIFY(!at(model, 1, FlowDataList::role_is_blocked).toBool());
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        QCOMPARE(m_device->script->requests.size(), size_t(1));
        QCOMPARE(m_device->script->requests[0].first, uint32_t(vb::filterwire::CodeBlock));
        // This platform's names keep their case.
        QCOMPARE(QString::fromStdString(m_device->script->requests[0].second),
                 QStringLiteral("/usr/bin/Curl"));
    }

    // The process moves to another index: its blocked state follows its id.
    model.onDataFound(sample({row(5, 1, 1, 0, 1, 0, 0),
                              row(30, 1, 2, 1, 2, 1, 1000, QStringLiteral("/usr/bin/Curl"))}),
                      info(1, 1), true);
    QVERIFY(!at(model, 0, FlowDataList::role_is_blocked).toBool());
    QVERIFY(at(model, 1, FlowDataList::role_is_blocked).toBool());

    changed.clear();
    QVERIFY(model.qmlBlock(1, false));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].value<QModelIndex>().row(), 1);
    QCOMPARE(changed[0][2].value<QList<int>>(), QList<int>{FlowDataList::role_is_blocked});
    QVERIFY(!at(model, 1, FlowDataList::role_is_blocked).toBool());
    std::lock_guard<std::mutex> g(m_device->lock());
    QCOMPARE(m_device->script->requests.size(), size_t(2));
    QCOMPARE(m_device->script->requests[1].first, uint32_t(vb::filterwire::CodeUnblock));
}

void TestFlowDataList::blockRefusedOrReadOnly()
{
    FlowDataList model(m_backends);
    model.onDataFound(sample({row(30, 1, 1, 0, 1, 0, 0, QStringLiteral("/usr/bin/curl"))}),
                      info(1, 1), true);
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        m_device->script->refuseRequests = true;
    }
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(!model.qmlBlock(0, true));
    QVERIFY(!at(model, 0, FlowDataList::role_is_blocked).toBool());
    {
        std::lock_guard<std::mutex> g(m_device->lock());
        m_device->script->refuseRequests = false;
        m_device->allowWrite = false; // opens for reading only
    }
    QVERIFY(!model.qmlBlock(0, true));
    QVERIFY(!at(model, 0, FlowDataList::role_is_blocked).toBool());
    m_device->setPresent(false);
    QVERIFY(!model.qmlBlock(0, true));
    QCOMPARE(changed.size(), 0);
}

void TestFlowDataList::blockOutOfRange_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("-1") << -1;
    QTest::newRow("row count") << 2;
    QTest::newRow("far out") << 1000;
}

void TestFlowDataList::blockOutOfRange()
{
    QFETCH(int, index);
    FlowDataList model(m_backends);
    model.onDataFound(sample({row(1, 1, 1, 0, 1, 0, 0, QStringLiteral("/a")),
                              row(2, 1, 1, 0, 1, 0, 0, QStringLiteral("/b"))}),
                      info(1, 1), true);
    QVERIFY(!model.qmlBlock(index, true));
    std::lock_guard<std::mutex> g(m_device->lock());
    QVERIFY(m_device->script->requests.empty());
}

void TestFlowDataList::processChangedIsPassedOn()
{
    FlowDataList model(m_backends);
    QSignalSpy spy(&model, &FlowDataList::processChanged);
    model.onProcessChanged();
    QCOMPARE(spy.size(), 1);
}

void TestFlowDataList::iconFromTheDesktopEntry()
{
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("vbtool"));
    const QString png = dir.filePath(QStringLiteral("vbtool.png"));
    QImage(16, 16, QImage::Format_ARGB32).save(png);
    QVERIFY(
        vb::test::put(exe, "#!/bin/sh\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(vb::test::put(dir.filePath(QStringLiteral("share/applications/vbtool.desktop")),
                          "[Desktop Entry]\nType=Application\nName=Tool\nExec=" + exe.toUtf8() +
                              "\nIcon=" + png.toUtf8() + "\n"));
    qputenv("XDG_DATA_DIRS", dir.filePath(QStringLiteral("share")).toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("nohome")).toUtf8());
    ExtractFileIcon::clearCache();

    FlowDataList model(m_backends);
    model.onDataFound(sample({row(1, 1, 0, 0, 0, 0, 0, exe),
                              row(2, 1, 0, 0, 0, 0, 0, dir.filePath(QStringLiteral("other")))}),
                      info(1, 1), true);
    QCOMPARE(at(model, 0, FlowDataList::role_icon).toString(), QUrl::fromLocalFile(png).toString());
    QVERIFY(at(model, 0, FlowDataList::role_icon).toString().startsWith(QLatin1String("file:///")));
    QCOMPARE(at(model, 1, FlowDataList::role_icon).toString(),
             QStringLiteral("images/icon_proc_default.png"));
    ExtractFileIcon::clearCache();
}

QTEST_GUILESS_MAIN(TestFlowDataList)
#include "tst_flowdatalist.moc"

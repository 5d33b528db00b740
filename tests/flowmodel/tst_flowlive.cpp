// SPDX-License-Identifier: GPL-3.0-or-later
// The sampling worker and the traffic model against the real filter service, with traffic of
// known size between two network namespaces that e2e_flowlive.sh made: totals and speeds of a
// process's row, processChanged() when processes come and go, blocking and unblocking from
// the model, and the service killed and started again under a running worker.
#include "../lib/testplatform.h"
#include "flow/flowdatalist.h"
#include "platform/fake/fakefilter.h"
#include "platform/linux/filterclient.h"
#include "platform/platform.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

// Bytes per second from a speed text such as "976.56 KB/s".
double bytesPerSecond(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^([0-9.]+) (B|KB|MB)/s$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return text == QLatin1String("0 B/s") ? 0.0 : -1.0;
    const double v = m.captured(1).toDouble();
    if (m.captured(2) == QLatin1String("KB"))
        return v * 1024;
    if (m.captured(2) == QLatin1String("MB"))
        return v * 1048576;
    return v;
}

bool within(double value, double expected, double fraction)
{
    return qAbs(value - expected) <= expected * fraction;
}
} // namespace

class TestFlowLive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void totalsOfAKnownExchange();
    void speedOfASteadySender();
    void blockingCutsAndUnblockingRestores();
    void serviceKilledAndBack();

private:
    void startService();
    void stopService();
    QProcess* start(const QString& ns, const QString& program, const QStringList& args);
    int rowOf(qint64 pid) const;
    QVariant value(qint64 pid, int role) const;

    QString m_sockDir;
    std::unique_ptr<QProcess> m_service;
    std::unique_ptr<FlowDataList> m_model;
    std::vector<std::unique_ptr<QProcess>> m_children;
};

void TestFlowLive::initTestCase()
{
    QVERIFY2(!env("VB_NSA").isEmpty() && !env("VB_NSB").isEmpty(), "run by e2e_flowlive.sh");
    m_sockDir = env("VB_SOCK_DIR");
    vb::platform::Platform p;
    p.filterDevice =
        std::make_shared<vb::platform::linux_::SocketFilterDevice>(m_sockDir.toStdString());
    // The worker must not provision a service of the machine's: this test runs its own.
    auto notElevated = std::make_shared<vb::platform::fake::FakeElevation>();
    notElevated->elevated = false;
    p.elevation = notElevated;
    startService();
    m_model = std::make_unique<FlowDataList>(vb::test::nativeExcept(p));
    m_model->startMonitoring();
    QSignalSpy totals(m_model.get(), &FlowDataList::totalDataChanged);
    QVERIFY(totals.wait(10000));
}

void TestFlowLive::cleanupTestCase()
{
    m_model.reset(); // stops the worker
    for (auto& c : m_children) {
        c->kill();
        c->waitForFinished(5000);
    }
    stopService();
}

void TestFlowLive::startService()
{
    m_service = std::make_unique<QProcess>();
    m_service->setProcessChannelMode(QProcess::ForwardedChannels);
    m_service->start(env("VB_FILTERD"), {QStringLiteral("--socket-dir"), m_sockDir});
    QVERIFY(m_service->waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_sockDir + QStringLiteral("/readonly")), 10000);
}

void TestFlowLive::stopService()
{
    if (!m_service)
        return;
    m_service->kill();
    m_service->waitForFinished(5000);
    m_service.reset();
    QFile::remove(m_sockDir + QStringLiteral("/control"));
    QFile::remove(m_sockDir + QStringLiteral("/readonly"));
}

QProcess* TestFlowLive::start(const QString& ns, const QString& program, const QStringList& args)
{
    auto p = std::make_unique<QProcess>();
    // "ip netns exec" becomes the program, so the pid is the traffic process's own.
    p->start(QStringLiteral("ip"),
             QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns, program} + args);
    if (!p->waitForStarted(5000))
        return nullptr;
    m_children.push_back(std::move(p));
    return m_children.back().get();
}

int TestFlowLive::rowOf(qint64 pid) const
{
    for (int i = 0; i < m_model->rowCount(); ++i)
        if (m_model->rows().at(i).pid == quint64(pid))
            return i;
    return -1;
}

QVariant TestFlowLive::value(qint64 pid, int role) const
{
    const int row = rowOf(pid);
    return row < 0 ? QVariant() : m_model->data(m_model->index(row), role);
}

void TestFlowLive::totalsOfAKnownExchange()
{
    QSignalSpy changed(m_model.get(), &FlowDataList::processChanged);
    QProcess* server =
        start(env("VB_NSA"), env("VB_TGEN"),
              {QStringLiteral("tcp-server"), QStringLiteral("5101"), QStringLiteral("250000")});
    QVERIFY(server);
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += server->readAllStandardOutput()).contains("listening"),
                              said.constData(), 10000);
    // A process that starts anywhere raises processChanged() within a cycle or two.
    QTRY_VERIFY_WITH_TIMEOUT(changed.size() >= 1, 10000);
    // The client holds its connection open for 4 s after the exchange: a live row with
    // totals that no longer move.
    QProcess* client =
        start(env("VB_NSB"), env("VB_TGEN"),
              {QStringLiteral("tcp-client"), QStringLiteral("10.88.0.1"), QStringLiteral("5101"),
               QStringLiteral("1000000"), QStringLiteral("250000"), QStringLiteral("4000")});
    QVERIFY(client);
    const qint64 pid = client->processId();
    QTRY_VERIFY_WITH_TIMEOUT(value(pid, FlowDataList::role_flow_out).toULongLong() >= 990000 &&
                                 value(pid, FlowDataList::role_flow_in).toULongLong() >= 247500,
                             10000);
    const double out = value(pid, FlowDataList::role_flow_out).toDouble();
    const double in = value(pid, FlowDataList::role_flow_in).toDouble();
    QVERIFY2(within(out, 1000000, 0.01), qPrintable(QString::number(out)));
    QVERIFY2(within(in, 250000, 0.01), qPrintable(QString::number(in)));
    QCOMPARE(value(pid, FlowDataList::role_proc_name).toString(), QStringLiteral("vb_tgen"));
    QVERIFY(!value(pid, FlowDataList::role_dead).toBool());
    QVERIFY(value(pid, FlowDataList::role_connection_count).toUInt() >= 1);
    // Once it closed, it stays as a dead row with the same totals.
    QVERIFY(client->waitForFinished(15000));
    const int before = int(changed.size());
    QTRY_VERIFY_WITH_TIMEOUT(value(pid, FlowDataList::role_dead).toBool(), 10000);
    QVERIFY(within(value(pid, FlowDataList::role_flow_out).toDouble(), 1000000, 0.01));
    QCOMPARE(value(pid, FlowDataList::role_flow_in_speed).toString(), QStringLiteral("0 B/s"));
    // Its exit was a change of the process set too.
    QTRY_VERIFY_WITH_TIMEOUT(changed.size() > before, 10000);
}

void TestFlowLive::speedOfASteadySender()
{
    QProcess* sink =
        start(env("VB_NSA"), env("VB_SINK"),
              {QStringLiteral("tcp-sink"), QStringLiteral("5102"), QStringLiteral("40")});
    QVERIFY(sink);
    QTest::qWait(300);
    // 25600 bytes every 25 ms: about a mebibyte a second for 12 s.
    QProcess* sender =
        start(env("VB_NSB"), env("VB_TGEN"),
              {QStringLiteral("tcp-loop"), QStringLiteral("10.88.0.1"), QStringLiteral("5102"),
               QStringLiteral("25600"), QStringLiteral("480"), QStringLiteral("25")});
    QVERIFY(sender);
    const qint64 pid = sender->processId();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(pid) >= 0, 10000);
    QSignalSpy totals(m_model.get(), &FlowDataList::totalDataChanged);
    QVERIFY(totals.wait(5000)); // start on a fresh sample
    QElapsedTimer clock;
    clock.start();
    const double firstOut = value(pid, FlowDataList::role_flow_out).toDouble();
    double shownSum = 0;
    int shown = 0;
    while (shown < 6) {
        QVERIFY(totals.wait(5000));
        const double speed =
            bytesPerSecond(value(pid, FlowDataList::role_flow_out_speed).toString());
        QVERIFY(speed >= 0);
        shownSum += speed;
        ++shown;
    }
    const double wallRate = (value(pid, FlowDataList::role_flow_out).toDouble() - firstOut) *
                            1000.0 / double(clock.elapsed());
    const double shownRate = shownSum / shown;
    qInfo("sender: shown %.0f B/s on average, %.0f B/s by the totals over the wall clock",
          shownRate, wallRate);
    QVERIFY2(wallRate > 700000, "the sender hardly got anything through");
    // Speeds are the row's deltas over measured intervals: over several samples they add up to
    // what really went through.
    QVERIFY2(within(shownRate, wallRate, 0.02),
             qPrintable(QStringLiteral("%1 vs %2").arg(shownRate).arg(wallRate)));
    // The sender is the only traffic here, so the total speed says much the same.
    QVERIFY(bytesPerSecond(m_model->totalOutSpeed()) > 0.5 * shownRate);
}

void TestFlowLive::blockingCutsAndUnblockingRestores()
{
    QProcess* sink =
        start(env("VB_NSA"), env("VB_SINK"),
              {QStringLiteral("tcp-sink"), QStringLiteral("5103"), QStringLiteral("40")});
    QVERIFY(sink);
    QTest::qWait(300);
    QProcess* sender =
        start(env("VB_NSB"), env("VB_TGEN"),
              {QStringLiteral("tcp-loop"), QStringLiteral("10.88.0.1"), QStringLiteral("5103"),
               QStringLiteral("10240"), QStringLiteral("1200"), QStringLiteral("20")});
    QVERIFY(sender);
    const qint64 pid = sender->processId();
    QTRY_VERIFY_WITH_TIMEOUT(
        bytesPerSecond(value(pid, FlowDataList::role_flow_out_speed).toString()) > 100000, 15000);

    QVERIFY(m_model->qmlBlock(rowOf(pid), true));
    QVERIFY(value(pid, FlowDataList::role_is_blocked).toBool());
    // The transfer stops: the row's sends no longer grow (it may also become a dead row).
    QSignalSpy totals(m_model.get(), &FlowDataList::totalDataChanged);
    QVERIFY(totals.wait(5000));
    QVERIFY(totals.wait(5000));
    const double cutAt = value(pid, FlowDataList::role_flow_out).toDouble();
    QVERIFY(totals.wait(5000));
    QVERIFY(totals.wait(5000));
    QCOMPARE(value(pid, FlowDataList::role_flow_out).toDouble(), cutAt);
    QVERIFY(value(pid, FlowDataList::role_is_blocked).toBool());

    QVERIFY(m_model->qmlBlock(rowOf(pid), false));
    QVERIFY(!value(pid, FlowDataList::role_is_blocked).toBool());
    // The sender reconnects and its traffic counts again.
    QTRY_VERIFY_WITH_TIMEOUT(value(pid, FlowDataList::role_flow_out).toDouble() > cutAt + 100000,
                             15000);
}

void TestFlowLive::serviceKilledAndBack()
{
    QProcess* sink =
        start(env("VB_NSA"), env("VB_SINK"),
              {QStringLiteral("tcp-sink"), QStringLiteral("5104"), QStringLiteral("40")});
    QVERIFY(sink);
    QTest::qWait(300);
    QProcess* sender =
        start(env("VB_NSB"), env("VB_TGEN"),
              {QStringLiteral("tcp-loop"), QStringLiteral("10.88.0.1"), QStringLiteral("5104"),
               QStringLiteral("10240"), QStringLiteral("1500"), QStringLiteral("20")});
    QVERIFY(sender);
    const qint64 pid = sender->processId();
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(pid) >= 0, 10000);

    stopService();
    // No rows without the service, but memory and CPU keep coming every second.
    QTRY_COMPARE_WITH_TIMEOUT(m_model->rowCount(), 0, 10000);
    QSignalSpy totals(m_model.get(), &FlowDataList::totalDataChanged);
    QVERIFY(totals.wait(5000));
    QVERIFY(totals.wait(5000));
    QVERIFY(m_model->memoryUsage() > 0);
    QCOMPARE(m_model->rowCount(), 0);

    startService();
    // Traffic comes back without restarting anything, first without a speed, then with one.
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(pid) >= 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(
        bytesPerSecond(value(pid, FlowDataList::role_flow_out_speed).toString()) > 100000, 15000);
}

QTEST_GUILESS_MAIN(TestFlowLive)
#include "tst_flowlive.moc"

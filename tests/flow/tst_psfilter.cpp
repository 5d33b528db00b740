// SPDX-License-Identifier: GPL-3.0-or-later
// PSFilter over a scripted device: the buffer protocol of the list reads, the split of live and
// history items, path conversion both ways and block requests.
#include "flow/listreader.h"
#include "flow/psfilter.h"
#include "platform/fake/fakefilter.h"
#include "platform/platform.h"

#include <QTest>

#include <iostream>
#include <sstream>

using namespace vb::platform;
namespace wire = vb::filterwire;

Q_DECLARE_METATYPE(std::vector<uint8_t>)

namespace {

struct PathHit
{
    quint64 pid;
    std::wstring path;
};

wire::ConnectionItem item(quint64 pid, bool history, quint32 w1 = 0, quint16 h1 = 0, quint16 h2 = 0,
                          quint32 w2 = 0, quint16 h3 = 0, quint64 in = 1, quint64 out = 1)
{
    return wire::ConnectionItem{ConnectionDataItem{pid, w1, h1, h2, w2, h3, in, out}, history};
}

// Which records a path list yields, as "pid:path" joined by '|'.
QString describe(const std::vector<PathHit>& hits)
{
    QStringList parts;
    for (const PathHit& h : hits)
        parts << QStringLiteral("%1:%2").arg(h.pid).arg(QString::fromStdWString(h.path));
    return parts.join(QLatin1Char('|'));
}

} // namespace

class TestPSFilter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_device = std::make_shared<fake::ScriptedFilterDevice>();
        m_volumes = std::make_shared<fake::FakeVolumes>();
    }

    // A connection list whose count does not match its length is dropped with one line on
    // the wide standard output.
    void countMismatchDiagnostic_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("diagnostic");
        QTest::newRow("matching") << 0 << 2 << "";
        QTest::newRow("one byte short") << 1 << 2 << "count: 2 sizeItem: 39 sizeHead: 2 len: 118\n";
        QTest::newRow("count larger than the items")
            << 0 << 3 << "count: 3 sizeItem: 39 sizeHead: 2 len: 119\n";
    }

    void countMismatchDiagnostic()
    {
        QFETCH(int, cut);
        QFETCH(int, count);
        QFETCH(QString, diagnostic);
        auto bytes = wire::encodeConnectionList({item(10, false), item(11, true)});
        bytes.erase(bytes.begin(), bytes.begin() + cut);
        bytes[0] = uint8_t(count);
        bytes[1] = 0;
        std::wstringstream captured;
        auto* old = std::wcout.rdbuf(captured.rdbuf());
        int items = 0;
        vb::flow::decodeConnectionChunk(bytes.data(), bytes.size(),
                                        [&](const wire::ConnectionItem&) { ++items; });
        std::wcout.rdbuf(old);
        QCOMPARE(QString::fromStdWString(captured.str()), diagnostic);
        QCOMPARE(items, diagnostic.isEmpty() ? 2 : 0);
    }

    void connectionFieldsAndSplit()
    {
        auto bytes = wire::encodeConnectionList(
            {item(0x1122334455667788ull, false, 0xA1A2A3A4, 0xB1B2, 0xC1C2, 0xD1D2D3D4, 0xE1E2,
                  0x0102030405060708ull, 0x1112131415161718ull),
             item(42, true, 9, 9, 9, 9, 9, 1000, 2000), item(43, false, 1, 1, 1, 1, 1, 3, 4)});
        bytes[2 + 39 + 8] = 5; // any flag but 0 marks history
        m_device->script->replies.push_back({0, bytes, -1});
        PSFilter filter(m_device, m_volumes);
        std::vector<ConnectionDataItem> live;
        std::vector<ConnectionDataHistoryItem> history;
        QVERIFY(filter.queryConnections(
            [&](const ConnectionDataItem& c) { live.push_back(c); },
            [&](const ConnectionDataHistoryItem& h) { history.push_back(h); }));
        QCOMPARE(live.size(), size_t(2));
        QCOMPARE(history.size(), size_t(1));
        const ConnectionDataItem& c = live[0];
        QCOMPARE(c.processId, 0x1122334455667788ull);
        QCOMPARE(c.identityWord1, 0xA1A2A3A4u);
        QCOMPARE(c.identityHalf1, quint16(0xB1B2));
        QCOMPARE(c.identityHalf2, quint16(0xC1C2));
        QCOMPARE(c.identityWord2, 0xD1D2D3D4u);
        QCOMPARE(c.identityHalf3, quint16(0xE1E2));
        QCOMPARE(c.bytesIn, 0x0102030405060708ull);
        QCOMPARE(c.bytesOut, 0x1112131415161718ull);
        QCOMPARE(live[1].processId, quint64(43));
        QCOMPARE(history[0].processId, quint64(42));
        QCOMPARE(history[0].bytesIn, quint64(1000));
        QCOMPARE(history[0].bytesOut, quint64(2000));
    }

    // Each row: the scripted replies (error, bytes returned) and what the reader must do.
    void bufferProtocol_data()
    {
        QTest::addColumn<QList<int>>("errors");
        QTest::addColumn<QList<int>>("items"); // items in each reply's chunk
        QTest::addColumn<QList<int>>("codes"); // 1 first, 0 continued
        QTest::addColumn<QList<int>>("capacities");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("delivered");
        QTest::newRow("one call") << QList<int>{0} << QList<int>{3} << QList<int>{1}
                                  << QList<int>{4096} << true << 3;
        QTest::newRow("more data then done")
            << QList<int>{234, 234, 0} << QList<int>{2, 2, 1} << QList<int>{1, 0, 0}
            << QList<int>{4096, 4096, 4096} << true << 5;
        QTest::newRow("buffer too small once")
            << QList<int>{122, 0} << QList<int>{-1, 4} << QList<int>{1, 0} << QList<int>{4096, 8192}
            << true << 4;
        QTest::newRow("buffer too small twice fails")
            << QList<int>{122, 122} << QList<int>{-1, -1} << QList<int>{1, 0}
            << QList<int>{4096, 8192} << false << 0;
        QTest::newRow("partial chunks stay delivered on failure")
            << QList<int>{234, 31} << QList<int>{2, -1} << QList<int>{1, 0}
            << QList<int>{4096, 4096} << false << 2;
        QTest::newRow("other error fails at once")
            << QList<int>{31} << QList<int>{-1} << QList<int>{1} << QList<int>{4096} << false << 0;
        QTest::newRow("more data, too small, then done")
            << QList<int>{234, 122, 0} << QList<int>{1, -1, 1} << QList<int>{1, 0, 0}
            << QList<int>{4096, 4096, 8192} << true << 2;
    }

    void bufferProtocol()
    {
        QFETCH(QList<int>, errors);
        QFETCH(QList<int>, items);
        QFETCH(QList<int>, codes);
        QFETCH(QList<int>, capacities);
        QFETCH(bool, ok);
        QFETCH(int, delivered);
        for (int i = 0; i < errors.size(); ++i) {
            std::vector<wire::ConnectionItem> list;
            for (int k = 0; k < items[i]; ++k)
                list.push_back(item(quint64(100 * i + k), false));
            fake::ScriptedReply r;
            r.error = uint32_t(errors[i]);
            if (items[i] >= 0)
                r.bytes = wire::encodeConnectionList(list);
            m_device->script->replies.push_back(r);
        }
        PSFilter filter(m_device, m_volumes);
        int got = 0;
        QCOMPARE(filter.queryConnections([&](const ConnectionDataItem&) { ++got; }, nullptr), ok);
        QCOMPARE(got, delivered);
        const auto& calls = m_device->script->calls;
        QCOMPARE(int(calls.size()), codes.size());
        for (int i = 0; i < codes.size(); ++i) {
            QCOMPARE(calls[size_t(i)].code, codes[i] ? quint32(wire::CodeConnectionsFirst)
                                                     : quint32(wire::CodeConnectionsNext));
            QCOMPARE(int(calls[size_t(i)].capacity), capacities[i]);
            QVERIFY(calls[size_t(i)].input.empty());
        }
    }

    void returnedCountPastBufferFails()
    {
        fake::ScriptedReply r;
        r.error = 0;
        r.bytes = wire::encodeConnectionList({item(1, false)});
        r.reportedLength = 5000;
        m_device->script->replies.push_back(r);
        PSFilter filter(m_device, m_volumes);
        int got = 0;
        QVERIFY(!filter.queryConnections([&](const ConnectionDataItem&) { ++got; }, nullptr));
        QCOMPARE(got, 0);
    }

    void pathListReadUsesItsCodes()
    {
        m_device->script->replies.push_back({234, wire::encodePathList({{1, "a"}}), -1});
        m_device->script->replies.push_back({0, wire::encodePathList({{2, "b"}}), -1});
        PSFilter filter(m_device, m_volumes);
        std::vector<PathHit> hits;
        filter.queryProcessPaths([&](quint64 pid, const std::wstring& p) {
            hits.push_back({pid, p});
        });
        QCOMPARE(describe(hits), QStringLiteral("1:a|2:b"));
        QCOMPARE(m_device->script->calls[0].code, quint32(wire::CodeProcessPathsFirst));
        QCOMPARE(m_device->script->calls[1].code, quint32(wire::CodeProcessPathsNext));
    }

    void ntToDosPaths_data()
    {
        QTest::addColumn<QString>("ntPath");
        QTest::addColumn<QString>("dosPath");
        QTest::newRow("tenth volume") << "\\Device\\HarddiskVolume10\\Windows\\x.exe"
                                      << "D:\\Windows\\x.exe";
        QTest::newRow("first volume") << "\\Device\\HarddiskVolume1\\a\\b.exe"
                                      << "C:\\a\\b.exe";
        QTest::newRow("case-insensitive prefix") << "\\DEVICE\\harddiskvolume1\\a.exe"
                                                 << "C:\\a.exe";
        QTest::newRow("whole first part only") << "\\Device\\HarddiskVolume100\\a.exe"
                                               << "\\Device\\HarddiskVolume100\\a.exe";
        QTest::newRow("device alone") << "\\Device\\HarddiskVolume1"
                                      << "C:";
        QTest::newRow("System unchanged") << "System"
                                          << "System";
    }

    void ntToDosPaths()
    {
        QFETCH(QString, ntPath);
        QFETCH(QString, dosPath);
        m_volumes->map = {{"\\Device\\HarddiskVolume1", "C:"},
                          {"\\Device\\HarddiskVolume10", "D:"}};
        m_device->script->replies.push_back(
            {0, wire::encodePathList({{9, ntPath.toStdString()}}), -1});
        PSFilter filter(m_device, m_volumes);
        QString got;
        filter.queryProcessPaths(
            [&](quint64, const std::wstring& p) { got = QString::fromStdWString(p); });
        QCOMPARE(got, dosPath);
    }

    void blockRequests_data()
    {
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("driveLetters");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("sent");
        QTest::newRow("drive path lower-cased")
            << false << true << "C:\\Program Files\\App.EXE"
            << "\\device\\harddiskvolume2\\program files\\app.exe";
        QTest::newRow("letter without a device sends the terminator alone")
            << false << true << "Q:\\x.exe"
            << "";
        QTest::newRow("case kept where names keep it") << true << false << "/opt/App/Bin"
                                                       << "/opt/App/Bin";
        QTest::newRow("no drive letters: identity, lower-cased where names ignore case")
            << false << false << "/opt/App"
            << "/opt/app";
    }

    void blockRequests()
    {
        QFETCH(bool, caseSensitive);
        QFETCH(bool, driveLetters);
        QFETCH(QString, path);
        QFETCH(QString, sent);
        m_device->caseSensitive = caseSensitive;
        if (driveLetters)
            m_volumes->map = {{"\\Device\\HarddiskVolume2", "C:"}};
        m_device->script->replies.push_back({0, {}, -1});
        m_device->script->replies.push_back({0, {}, -1});
        PSFilter filter(m_device, m_volumes);
        QVERIFY(filter.blockPath(path.toStdWString()));
        QVERIFY(filter.unblockPath(path.toStdWString()));
        const auto& calls = m_device->script->calls;
        QCOMPARE(calls.size(), size_t(2));
        QCOMPARE(calls[0].code, quint32(wire::CodeBlock));
        QCOMPARE(calls[1].code, quint32(wire::CodeUnblock));
        const auto expected = wire::encodeRequestPath(sent.toStdWString());
        QCOMPARE(calls[0].input, expected);
        QCOMPARE(calls[0].input.size(), size_t((sent.size() + 1) * 2));
        QCOMPARE(calls[0].capacity, size_t(0));
    }

    void readOnlyDevice()
    {
        m_device->allowWrite = false;
        m_device->script->replies.push_back({ErrAccessDenied, {}, -1});
        PSFilter filter(m_device, m_volumes);
        QCOMPARE(filter.accessMode(), 1);
        QVERIFY(filter.readOnly());
        QVERIFY(!filter.blockPath(L"/usr/bin/x"));
    }

    void noDevice()
    {
        m_device->allowWrite = false;
        m_device->allowRead = false;
        PSFilter filter(m_device, m_volumes);
        QCOMPARE(filter.accessMode(), 0);
        QVERIFY(!filter.queryConnections(nullptr, nullptr));
        QVERIFY(!filter.blockPath(L"/usr/bin/x"));
        QVERIFY(m_device->script->calls.empty());
        // The mode is asked again each time and follows the device when it appears.
        m_device->allowWrite = true;
        QCOMPARE(filter.accessMode(), 2);
    }

    void deviceGoneThenBack()
    {
        m_device->script->disconnectWhenEmpty = true;
        m_device->script->replies.push_back({0, wire::encodeConnectionList({}), -1});
        PSFilter filter(m_device, m_volumes);
        QVERIFY(filter.queryConnections(nullptr, nullptr));
        m_device->allowWrite = false;
        m_device->allowRead = false;
        QVERIFY(!filter.queryConnections(nullptr, nullptr)); // the service went away
        QCOMPARE(filter.accessMode(), 0);
        m_device->allowWrite = true;
        m_device->script->replies.push_back({0, wire::encodeConnectionList({item(5, false)}), -1});
        int got = 0;
        QVERIFY(filter.queryConnections([&](const ConnectionDataItem&) { ++got; }, nullptr));
        QCOMPARE(got, 1);
        QCOMPARE(filter.accessMode(), 2);
    }

    void dosToNt_data()
    {
        QTest::addColumn<QString>("dos");
        QTest::addColumn<QString>("nt");
        QTest::newRow("mapped") << "C:\\a\\b.exe"
                                << "\\Device\\HarddiskVolume2\\a\\b.exe";
        QTest::newRow("lower-case letter") << "c:\\a"
                                           << "\\Device\\HarddiskVolume2\\a";
        QTest::newRow("unmapped letter") << "Z:\\a"
                                         << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void dosToNt()
    {
        QFETCH(QString, dos);
        QFETCH(QString, nt);
        m_volumes->map = {{"\\Device\\HarddiskVolume2", "C:"}};
        QCOMPARE(QString::fromStdWString(dosPathToNtPath(m_volumes, dos.toStdWString().c_str())),
                 nt);
        m_volumes->map.clear();
        QCOMPARE(QString::fromStdWString(dosPathToNtPath(m_volumes, L"/Home/User/App")),
                 QStringLiteral("/Home/User/App"));
        // The Linux volume map is the identity pair: paths pass unchanged, case kept.
        m_volumes->map = {{"", ""}};
        QCOMPARE(QString::fromStdWString(dosPathToNtPath(m_volumes, L"/Home/User/App")),
                 QStringLiteral("/Home/User/App"));
    }

private:
    std::shared_ptr<fake::ScriptedFilterDevice> m_device;
    std::shared_ptr<fake::FakeVolumes> m_volumes;
};

QTEST_GUILESS_MAIN(TestPSFilter)
#include "tst_psfilter.moc"

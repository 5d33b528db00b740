// SPDX-License-Identifier: GPL-3.0-or-later
// The service's answers to every control code, read back by the library's own reader: chunks
// that each are a well-formed list, the buffer protocol's errors, and hostile requests.
#include "fakebackend.h"
#include "flow/filterwire.h"
#include "flow/psfilter.h"
#include "platform/linux/filtersocket.h"

#include <QTest>

#include <iostream>
#include <sstream>

using namespace filterd;

namespace {

std::vector<uint8_t> utf16z(const std::u16string& s)
{
    std::vector<uint8_t> out;
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// Every list reply parses alone, with no diagnostic, and holds the items it says.
void checkChunks(const std::vector<SessionCall>& log, bool connections)
{
    for (const SessionCall& c : log) {
        if (c.error != 0 && c.error != 234) {
            QCOMPARE(c.reply.size(), size_t(0));
            continue;
        }
        QVERIFY(c.reply.size() <= c.capacity);
        if (connections) {
            std::wstringstream diag;
            auto* old = std::wcout.rdbuf(diag.rdbuf());
            size_t n = 0;
            vb::flow::parseConnectionListChunk(c.reply.data(), c.reply.size(),
                                               [&](const vb::flow::WireConnectionItem&) { ++n; });
            std::wcout.rdbuf(old);
            QVERIFY(diag.str().empty());
            QCOMPARE(n, (c.reply.size() - 41) / 39);
        } else {
            QVERIFY(c.reply.size() >= 12);
            for (size_t i = c.reply.size() - 12; i < c.reply.size(); ++i)
                QCOMPARE(int(c.reply[i]), 0);
        }
    }
}

} // namespace

class TestFilterProtocol : public QObject
{
    Q_OBJECT

private slots:
    void connectionListRoundTrip_data()
    {
        QTest::addColumn<int>("live");
        QTest::addColumn<int>("history");
        QTest::addColumn<int>("calls");
        QTest::newRow("empty") << 0 << 0 << 1;
        QTest::newRow("fits in one") << 50 << 3 << 1;
        // 4096 bytes hold (4096 - 41) / 39 = 103 items per chunk.
        QTest::newRow("exactly one chunk") << 103 << 0 << 1;
        QTest::newRow("one over") << 103 << 1 << 2;
        QTest::newRow("2000 sockets") << 2000 << 40 << 20;
    }

    void connectionListRoundTrip()
    {
        QFETCH(int, live);
        QFETCH(int, history);
        QFETCH(int, calls);
        TableBackend backend;
        for (int i = 0; i < live; ++i)
            backend.live.push_back(LiveSocket{uint64_t(1000 + i % 37), uint32_t(i), uint16_t(i),
                                              uint16_t(i * 3), uint32_t(~i), 6, uint64_t(i) * 11,
                                              uint64_t(i) * 13});
        for (int i = 0; i < history; ++i)
            backend.history.push_back(HistoryEntry{uint64_t(5000 + i), uint64_t(i + 1), uint64_t(i + 2)});
        Session session(backend, Access::ReadOnly);
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        QCOMPARE(filter.accessMode(), 1);
        std::vector<ConnectionDataItem> gotLive;
        std::vector<ConnectionDataHistoryItem> gotHistory;
        QVERIFY(filter.queryConnections([&](const ConnectionDataItem& c) { gotLive.push_back(c); },
                                        [&](const ConnectionDataHistoryItem& h) {
                                            gotHistory.push_back(h);
                                        }));
        QCOMPARE(int(log.size()), calls);
        QCOMPARE(backend.connectionReads, 1); // one snapshot serves all chunks
        checkChunks(log, true);
        QCOMPARE(int(gotLive.size()), live);
        QCOMPARE(int(gotHistory.size()), history);
        for (int i = 0; i < live; ++i) {
            const LiveSocket& want = backend.live[size_t(i)];
            const ConnectionDataItem& got = gotLive[size_t(i)];
            QCOMPARE(got.processId, want.pid);
            QCOMPARE(got.identityWord1, want.word1);
            QCOMPARE(got.identityHalf1, want.half1);
            QCOMPARE(got.identityHalf2, want.half2);
            QCOMPARE(got.identityWord2, want.word2);
            QCOMPARE(got.identityHalf3, want.half3);
            QCOMPARE(got.bytesIn, want.bytesIn);
            QCOMPARE(got.bytesOut, want.bytesOut);
        }
        for (int i = 0; i < history; ++i) {
            QCOMPARE(gotHistory[size_t(i)].processId, backend.history[size_t(i)].pid);
            QCOMPARE(gotHistory[size_t(i)].bytesIn, backend.history[size_t(i)].bytesIn);
        }
    }

    void pathListRoundTrip()
    {
        TableBackend backend;
        for (int i = 0; i < 300; ++i)
            backend.paths.push_back(
                ProcessPath{uint64_t(i + 1), "/opt/\xc3\xa9t\xc3\xa9/" + std::string(size_t(i % 90), 'x') + "/bin"});
        // Too long for the largest buffer the library uses: left out, the rest still served.
        backend.paths.push_back(ProcessPath{9999, "/" + std::string(5000, 'y')});
        backend.paths.push_back(ProcessPath{10000, "/last"});
        Session session(backend, Access::ReadWrite);
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        std::vector<std::pair<quint64, std::wstring>> got;
        filter.queryProcessPaths([&](quint64 pid, const std::wstring& p) { got.emplace_back(pid, p); });
        QVERIFY(log.size() > 1);
        checkChunks(log, false);
        QCOMPARE(got.size(), size_t(301));
        for (size_t i = 0; i < 300; ++i) {
            QCOMPARE(got[i].first, quint64(i + 1));
            QCOMPARE(QString::fromStdWString(got[i].second),
                     QString::fromStdString(backend.paths[i].path));
        }
        QCOMPARE(got.back().first, quint64(10000));
    }

    void pathNeedingTheLargerBuffer()
    {
        TableBackend backend;
        backend.paths.push_back(ProcessPath{1, "/" + std::string(3000, 'a')}); // ~6 KB record
        backend.paths.push_back(ProcessPath{2, "/b"});
        Session session(backend, Access::ReadWrite);
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        int n = 0;
        filter.queryProcessPaths([&](quint64, const std::wstring&) { ++n; });
        QCOMPARE(n, 2);
        QCOMPARE(log.at(0).error, 122u);
        QCOMPARE(log.at(1).capacity, size_t(8192));
        QCOMPARE(log.at(1).code, uint32_t(CodeProcessPathsNext));
    }

    void requests_data()
    {
        QTest::addColumn<bool>("readWrite");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<uint>("capacity");
        QTest::addColumn<uint>("error");
        QTest::addColumn<QString>("backendCall");
        auto bytes = [](const std::vector<uint8_t>& v) {
            return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
        };
        QTest::newRow("block") << true << uint(CodeBlock) << bytes(utf16z(u"/usr/bin/\u00e9")) << 0u << 0u
                               << QString::fromUtf8("block /usr/bin/\u00e9");
        QTest::newRow("unblock") << true << uint(CodeUnblock) << bytes(utf16z(u"/a")) << 0u << 0u << "unblock /a";
        QTest::newRow("read-only refuses block") << false << uint(CodeBlock) << bytes(utf16z(u"/a")) << 0u << 5u << "";
        QTest::newRow("read-only refuses unblock") << false << uint(CodeUnblock) << bytes(utf16z(u"/a")) << 0u << 5u << "";
        auto noNul = utf16z(u"/a");
        noNul.resize(noNul.size() - 2);
        noNul.push_back('b');
        noNul.push_back(0);
        QTest::newRow("path without its NUL") << true << uint(CodeBlock) << bytes(noNul) << 0u << 87u << "";
        QTest::newRow("NUL inside") << true << uint(CodeBlock) << bytes(utf16z(std::u16string(u"/a\0b", 4))) << 0u << 87u << "";
        QTest::newRow("terminator alone") << true << uint(CodeBlock) << bytes(utf16z(u"")) << 0u << 87u << "";
        QTest::newRow("relative path") << true << uint(CodeBlock) << bytes(utf16z(u"bin/x")) << 0u << 87u << "";
        QTest::newRow("odd length") << true << uint(CodeBlock) << QByteArray("/\0a\0\0", 5) << 0u << 87u << "";
        QTest::newRow("lone surrogate") << true << uint(CodeBlock) << bytes(utf16z(u"/\xD800x")) << 0u << 87u << "";
        QTest::newRow("no input") << true << uint(CodeBlock) << QByteArray() << 0u << 87u << "";
        QTest::newRow("unknown code") << true << 0x12A80Fu << QByteArray() << 4096u << 1u << "";
        QTest::newRow("code zero") << false << 0u << QByteArray() << 4096u << 1u << "";
        QTest::newRow("list into a tiny buffer") << true << uint(CodeConnectionsFirst) << QByteArray() << 40u << 122u << "";
        QTest::newRow("list into no buffer") << true << uint(CodeProcessPathsFirst) << QByteArray() << 0u << 122u << "";
    }

    void requests()
    {
        QFETCH(bool, readWrite);
        QFETCH(uint, code);
        QFETCH(QByteArray, input);
        QFETCH(uint, capacity);
        QFETCH(uint, error);
        QFETCH(QString, backendCall);
        TableBackend backend;
        Session session(backend, readWrite ? Access::ReadWrite : Access::ReadOnly);
        const Reply r = session.handle(code, reinterpret_cast<const uint8_t*>(input.constData()),
                                       size_t(input.size()), capacity);
        QCOMPARE(r.error, error);
        QStringList calls;
        for (const auto& c : backend.blockCalls)
            calls << QString::fromStdString(c);
        QCOMPARE(calls.join(QLatin1Char('|')), backendCall);
    }

    void continuedReadWithoutPendingStartsOver()
    {
        TableBackend backend;
        backend.live.push_back(LiveSocket{1, 0, 0, 0, 0, 17, 5, 6});
        Session session(backend, Access::ReadOnly);
        const Reply r = session.handle(CodeConnectionsNext, nullptr, 0, 4096);
        QCOMPARE(r.error, 0u);
        QCOMPARE(r.bytes.size(), size_t(39 + 41));
        QCOMPARE(backend.connectionReads, 1);
    }

    void framing_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("valid");
        QTest::newRow("head only") << QByteArray("\x06\x70\x12\x00\x00\x10\x00\x00\x00\x00\x00\x00", 12) << true;
        QTest::newRow("short head") << QByteArray("\x06\x70\x12\x00", 4) << false;
        QTest::newRow("input length larger than sent") << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x08\x00\x00\x00/\0", 14) << false;
        QTest::newRow("input length smaller than sent") << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x01\x00\x00\x00/\0", 14) << false;
        QTest::newRow("input exact") << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x02\x00\x00\x00/\0", 14) << true;
        QTest::newRow("huge claimed input") << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\xff\xff\xff\xff", 12) << false;
    }

    void framing()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, valid);
        const auto r = vb::filtersocket::decodeRequest(
            reinterpret_cast<const uint8_t*>(message.constData()), size_t(message.size()));
        QCOMPARE(r.has_value(), valid);
    }
};

QTEST_GUILESS_MAIN(TestFilterProtocol)
#include "tst_filterprotocol.moc"

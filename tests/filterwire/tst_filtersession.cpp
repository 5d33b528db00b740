// SPDX-License-Identifier: GPL-3.0-or-later
// The service's answers to every control code, read back by the library's own reader: chunks
// that each are a well-formed list, the buffer protocol's errors, and hostile requests, sound
// and random.
#include "filterwire/framing.h"
#include "flow/psfilter.h"
#include "sessiondevice.h"

#include <QTest>

#include <map>
#include <random>
#include <set>

using namespace filterd;

namespace {

std::vector<uint8_t> request(const std::u16string& s)
{
    return encodeRequestPath(QString::fromStdU16String(s).toStdWString());
}

// A list reply that is well-formed alone: the connection list's count matches its length, the
// path list ends with its zero bytes and holds at least one record unless it is empty.
void checkChunk(uint32_t code, const Reply& r, size_t capacity)
{
    const bool connections = code == CodeConnectionsFirst || code == CodeConnectionsNext;
    const bool paths = code == CodeProcessPathsFirst || code == CodeProcessPathsNext;
    if (!(connections || paths) || (r.error != ErrSuccess && r.error != ErrMoreData)) {
        QVERIFY(r.bytes.empty());
        return;
    }
    QVERIFY(r.bytes.size() <= capacity);
    if (connections) {
        QCOMPARE(decodeConnectionList(r.bytes.data(), r.bytes.size(), [](const ConnectionItem&) {}),
                 ListStatus::Ok);
    } else {
        size_t n = 0;
        decodePathList(r.bytes.data(), r.bytes.size(), [&](U64, const std::wstring&) { ++n; });
        QVERIFY(r.bytes.size() >= PathListEndSize);
        QVERIFY(r.bytes.size() == PathListEndSize || n > 0);
    }
}

void checkChunks(const std::vector<SessionCall>& log)
{
    for (const SessionCall& c : log)
        checkChunk(c.code, Reply{c.error, c.reply}, c.capacity);
}

class CheckingBackend : public TableBackend
{
public:
    int badPaths = 0;
    uint32_t block(const std::string& path) override
    {
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
            ++badPaths;
        return 0;
    }
    uint32_t unblock(const std::string& path) override { return block(path); }
};

} // namespace

class TestFilterSession : public QObject
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
            backend.live.push_back(ConnectionDataItem{U64(1000 + i % 37), uint32_t(i), uint16_t(i),
                                                      uint16_t(i * 3), uint32_t(~i), 6, U64(i) * 11,
                                                      U64(i) * 13});
        for (int i = 0; i < history; ++i)
            backend.history.push_back(
                ConnectionDataHistoryItem{U64(5000 + i), U64(i + 1), U64(i + 2)});
        Session session(backend, Access::ReadOnly);
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        QCOMPARE(filter.accessMode(), 1);
        std::vector<ConnectionDataItem> gotLive;
        std::vector<ConnectionDataHistoryItem> gotHistory;
        QVERIFY(filter.queryConnections(
            [&](const ConnectionDataItem& c) { gotLive.push_back(c); },
            [&](const ConnectionDataHistoryItem& h) { gotHistory.push_back(h); }));
        QCOMPARE(int(log.size()), calls);
        QCOMPARE(backend.connectionReads, 1); // one snapshot serves all chunks
        checkChunks(log);
        QCOMPARE(int(gotLive.size()), live);
        QCOMPARE(int(gotHistory.size()), history);
        QVERIFY(gotLive == backend.live);
        QVERIFY(gotHistory == backend.history);
    }

    // A session limited to some processes (an ordinary user's own) lists only those, in every
    // chunk, and asks about each process once per list.
    void visibilityFiltersBothLists()
    {
        TableBackend backend;
        for (int i = 0; i < 400; ++i)
            backend.live.push_back(
                ConnectionDataItem{U64(1 + i % 10), uint32_t(i), 1, 2, 3, 6, U64(i), U64(i)});
        for (int i = 0; i < 10; ++i) {
            backend.history.push_back(ConnectionDataHistoryItem{U64(1 + i), 7, 9});
            backend.paths.push_back(ProcessPath{U64(1 + i), "/bin/p" + std::to_string(i)});
        }
        std::map<U64, int> asked;
        Session session(backend, Access::ReadOnly, [&](U64 pid) {
            ++asked[pid];
            return pid % 3 == 0;
        });
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        std::set<quint64> seen;
        QVERIFY(filter.queryConnections(
            [&](const ConnectionDataItem& c) { seen.insert(c.processId); },
            [&](const ConnectionDataHistoryItem& h) { seen.insert(h.processId); }));
        QVERIFY(log.size() > 1);
        checkChunks(log);
        QCOMPARE(seen, (std::set<quint64>{3, 6, 9}));
        for (const auto& [pid, n] : asked)
            QCOMPARE(n, 1);
        seen.clear();
        filter.queryProcessPaths([&](quint64 pid, const std::wstring&) { seen.insert(pid); });
        QCOMPARE(seen, (std::set<quint64>{3, 6, 9}));
    }

    void pathListRoundTrip()
    {
        TableBackend backend;
        for (int i = 0; i < 300; ++i)
            backend.paths.push_back(ProcessPath{
                U64(i + 1), "/opt/\xc3\xa9t\xc3\xa9/" + std::string(size_t(i % 90), 'x') + "/bin"});
        // Too long for the largest buffer the library uses: left out, the rest still served.
        backend.paths.push_back(ProcessPath{9999, "/" + std::string(5000, 'y')});
        backend.paths.push_back(ProcessPath{10000, "/last"});
        Session session(backend, Access::ReadWrite);
        std::vector<SessionCall> log;
        PSFilter filter(std::make_shared<SessionDevice>(session, log));
        std::vector<std::pair<quint64, std::wstring>> got;
        filter.queryProcessPaths(
            [&](quint64 pid, const std::wstring& p) { got.emplace_back(pid, p); });
        QVERIFY(log.size() > 1);
        checkChunks(log);
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
        QTest::newRow("block") << true << uint(CodeBlock) << bytes(request(u"/usr/bin/\u00e9"))
                               << 0u << 0u << QString::fromUtf8("block /usr/bin/\u00e9");
        QTest::newRow("unblock") << true << uint(CodeUnblock) << bytes(request(u"/a")) << 0u << 0u
                                 << "unblock /a";
        QTest::newRow("read-only refuses block")
            << false << uint(CodeBlock) << bytes(request(u"/a")) << 0u << 5u << "";
        QTest::newRow("read-only refuses unblock")
            << false << uint(CodeUnblock) << bytes(request(u"/a")) << 0u << 5u << "";
        auto noNul = request(u"/ab");
        noNul.resize(noNul.size() - 2);
        QTest::newRow("path without its NUL")
            << true << uint(CodeBlock) << bytes(noNul) << 0u << 87u << "";
        QTest::newRow("NUL inside")
            << true << uint(CodeBlock) << bytes(request(std::u16string(u"/a\0b", 4))) << 0u << 87u
            << "";
        QTest::newRow("terminator alone")
            << true << uint(CodeBlock) << bytes(request(u"")) << 0u << 87u << "";
        QTest::newRow("relative path")
            << true << uint(CodeBlock) << bytes(request(u"bin/x")) << 0u << 87u << "";
        QTest::newRow("odd length")
            << true << uint(CodeBlock) << QByteArray("/\0a\0\0", 5) << 0u << 87u << "";
        auto lone = request(u"/ax");
        lone[2] = 0x00; // the 'a' becomes a high surrogate without its low half
        lone[3] = 0xD8;
        QTest::newRow("lone surrogate")
            << true << uint(CodeBlock) << bytes(lone) << 0u << 87u << "";
        QTest::newRow("no input") << true << uint(CodeBlock) << QByteArray() << 0u << 87u << "";
        QTest::newRow("unknown code") << true << 0x12A80Fu << QByteArray() << 4096u << 1u << "";
        QTest::newRow("code zero") << false << 0u << QByteArray() << 4096u << 1u << "";
        QTest::newRow("list into a tiny buffer")
            << true << uint(CodeConnectionsFirst) << QByteArray() << 40u << 122u << "";
        QTest::newRow("list into no buffer")
            << true << uint(CodeProcessPathsFirst) << QByteArray() << 0u << 122u << "";
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
        backend.live.push_back(ConnectionDataItem{1, 0, 0, 0, 0, 17, 5, 6});
        Session session(backend, Access::ReadOnly);
        const Reply r = session.handle(CodeConnectionsNext, nullptr, 0, 4096);
        QCOMPARE(r.error, 0u);
        QCOMPARE(r.bytes.size(), size_t(39 + 41));
        QCOMPARE(backend.connectionReads, 1);
    }

    // Random and malformed requests as they would arrive on the socket: whatever comes in, the
    // answer is a known error or a well-formed list that fits the caller's buffer, and the
    // backend only ever sees sound paths.
    void randomRequests()
    {
        std::mt19937_64 rng(20261206);
        CheckingBackend backend;
        for (int i = 0; i < 120; ++i)
            backend.live.push_back(ConnectionDataItem{U64(i % 50 + 1), uint32_t(rng()), 1, 2, 3, 6,
                                                      rng() % 100000, rng() % 100000});
        for (int i = 0; i < 30; ++i)
            backend.history.push_back(
                ConnectionDataHistoryItem{U64(i + 100), rng() % 1000, rng() % 1000});
        for (int i = 0; i < 40; ++i)
            backend.paths.push_back(ProcessPath{U64(i + 1), "/p/" + std::string(rng() % 200, 'q')});
        Session rw(backend, Access::ReadWrite);
        Session ro(backend, Access::ReadOnly);
        const uint32_t codes[] = {CodeProcessPathsFirst,
                                  CodeProcessPathsNext,
                                  CodeConnectionsFirst,
                                  CodeConnectionsNext,
                                  CodeBlock,
                                  CodeUnblock};
        const std::set<uint32_t> known{ErrSuccess,          ErrInvalidFunction,    ErrAccessDenied,
                                       ErrInvalidParameter, ErrInsufficientBuffer, ErrMoreData};
        int served = 0;
        std::vector<uint8_t> message;
        for (int round = 0; round < 100000; ++round) {
            // A message as it would arrive on the socket: sometimes a sound head, sometimes not.
            message.clear();
            const int shape = int(rng() % 4);
            const uint32_t code = shape == 0 ? uint32_t(rng()) : codes[rng() % 6];
            const uint32_t capacity = shape == 1 ? uint32_t(rng()) : uint32_t(rng() % 9000);
            std::vector<uint8_t> input(rng() % 64);
            for (auto& b : input)
                b = uint8_t(rng() % 4 == 0 ? 0 : rng());
            if (rng() % 3 == 0 && !input.empty()) {
                input[0] = '/';
                input[1 % input.size()] = 0;
            }
            message = vb::filterwire::encodeRequest(code, capacity, input.data(), input.size());
            if (shape == 3 && !message.empty())
                message.resize(rng() % message.size()); // cut short
            if (rng() % 8 == 0 && !message.empty())
                message[rng() % message.size()] ^= uint8_t(1u << (rng() % 8));
            const auto req = vb::filterwire::decodeRequest(message.data(), message.size());
            if (!req)
                continue;
            ++served;
            Session& s = rng() % 2 ? rw : ro;
            const size_t cap = std::min<size_t>(req->capacity, vb::filterwire::MaxReplyOutput);
            const Reply r = s.handle(req->code, req->input, req->inputLength, cap);
            QVERIFY2(known.count(r.error), qPrintable(QString::number(r.error)));
            QVERIFY(r.bytes.size() <= cap);
            checkChunk(req->code, r, cap);
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(served > 50000);
        QCOMPARE(backend.badPaths, 0);
    }
};

QTEST_GUILESS_MAIN(TestFilterSession)
#include "tst_filtersession.moc"

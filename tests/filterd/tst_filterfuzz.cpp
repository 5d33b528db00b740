// SPDX-License-Identifier: GPL-3.0-or-later
// Random and malformed requests against the service's protocol (run under the sanitizers in
// the sanitizer build): whatever comes in, the answer is a known error or a well-formed list
// that fits the caller's buffer, and the backend only ever sees sound paths.
#include "fakebackend.h"
#include "flow/filterwire.h"
#include "platform/linux/filtersocket.h"

#include <QTest>

#include <iostream>
#include <random>
#include <set>
#include <sstream>

using namespace filterd;

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

class TestFilterFuzz : public QObject
{
    Q_OBJECT

private slots:
    void randomRequests()
    {
        std::mt19937_64 rng(20261206);
        CheckingBackend backend;
        for (int i = 0; i < 120; ++i)
            backend.live.push_back(LiveSocket{uint64_t(i % 50 + 1), uint32_t(rng()), 1, 2, 3, 6,
                                              rng() % 100000, rng() % 100000});
        for (int i = 0; i < 30; ++i)
            backend.history.push_back(HistoryEntry{uint64_t(i + 100), rng() % 1000, rng() % 1000});
        for (int i = 0; i < 40; ++i)
            backend.paths.push_back(ProcessPath{uint64_t(i + 1), "/p/" + std::string(rng() % 200, 'q')});
        Session rw(backend, Access::ReadWrite);
        Session ro(backend, Access::ReadOnly);
        const uint32_t codes[] = {CodeProcessPathsFirst, CodeProcessPathsNext, CodeConnectionsFirst,
                                  CodeConnectionsNext,   CodeBlock,            CodeUnblock};
        const std::set<uint32_t> known{0, 1, 5, 87, 122, 234};
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
            message = vb::filtersocket::encodeRequest(code, capacity, input.data(), input.size());
            if (shape == 3 && !message.empty())
                message.resize(rng() % message.size()); // cut short
            if (rng() % 8 == 0 && !message.empty())
                message[rng() % message.size()] ^= uint8_t(1u << (rng() % 8));
            const auto req = vb::filtersocket::decodeRequest(message.data(), message.size());
            if (!req)
                continue;
            ++served;
            Session& s = rng() % 2 ? rw : ro;
            const size_t cap = std::min<size_t>(req->capacity, vb::filtersocket::MaxReplyOutput);
            const Reply r = s.handle(req->code, req->input, req->inputLength, cap);
            QVERIFY2(known.count(r.error), qPrintable(QString::number(r.error)));
            QVERIFY(r.bytes.size() <= cap);
            if (r.error != 0 && r.error != 234) {
                QVERIFY(r.bytes.empty());
                continue;
            }
            if (req->code == CodeConnectionsFirst || req->code == CodeConnectionsNext) {
                std::wstringstream diag;
                auto* old = std::wcout.rdbuf(diag.rdbuf());
                size_t n = 0;
                vb::flow::parseConnectionListChunk(r.bytes.data(), r.bytes.size(),
                                                   [&](const vb::flow::WireConnectionItem&) { ++n; });
                std::wcout.rdbuf(old);
                QVERIFY(diag.str().empty());
                QCOMPARE(n, (r.bytes.size() - 41) / 39);
            } else if (req->code == CodeProcessPathsFirst || req->code == CodeProcessPathsNext) {
                size_t n = 0;
                vb::flow::parsePathListChunk(r.bytes.data(), r.bytes.size(),
                                             [&](quint64, const std::wstring&) { ++n; });
                QVERIFY(r.bytes.size() == 12 || n > 0);
            }
        }
        QVERIFY(served > 50000);
        QCOMPARE(backend.badPaths, 0);
    }

    // The library's reader against random device replies: never reads past what it was given.
    void randomReplies()
    {
        std::mt19937_64 rng(7);
        std::vector<uint8_t> bytes;
        for (int round = 0; round < 100000; ++round) {
            bytes.resize(rng() % 300);
            for (auto& b : bytes)
                b = uint8_t(rng() % 3 == 0 ? 0 : rng());
            if (bytes.size() >= 12 && rng() % 2)
                std::fill(bytes.end() - 12, bytes.end(), 0);
            if (bytes.size() >= 41 && rng() % 2) {
                std::fill(bytes.end() - 39, bytes.end(), 0);
                bytes[0] = uint8_t((bytes.size() - 41) / 39);
                bytes[1] = 0;
            }
            std::wstringstream diag;
            auto* old = std::wcout.rdbuf(diag.rdbuf());
            size_t items = 0, records = 0;
            vb::flow::parseConnectionListChunk(bytes.data(), bytes.size(),
                                               [&](const vb::flow::WireConnectionItem&) { ++items; });
            vb::flow::parsePathListChunk(bytes.data(), bytes.size(),
                                         [&](quint64, const std::wstring&) { ++records; });
            std::wcout.rdbuf(old);
            QVERIFY(items <= bytes.size() / 39);
            QVERIFY(records <= bytes.size() / 12);
        }
    }
};

QTEST_GUILESS_MAIN(TestFilterFuzz)
#include "tst_filterfuzz.moc"

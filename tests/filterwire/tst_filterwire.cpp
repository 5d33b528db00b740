// SPDX-License-Identifier: GPL-3.0-or-later
// The filter protocol's encoders and decoders: the exact bytes of every message, malformed
// lists, round trips of random records and random bytes that must not decode to more than
// they hold.
#include "filterwire/filterwire.h"
#include "filterwire/framing.h"

#include <QTest>

#include <random>

using namespace vb::filterwire;

Q_DECLARE_METATYPE(std::vector<uint8_t>)

namespace {

std::vector<uint8_t> bytesOf(const QByteArray& a)
{
    return std::vector<uint8_t>(a.begin(), a.end());
}

// Overwrites the length field of the path record starting at offset.
void setRecordLength(std::vector<uint8_t>& list, size_t offset, uint32_t length)
{
    for (int i = 0; i < 4; ++i)
        list[offset + size_t(i)] = uint8_t(length >> (8 * i));
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Which records a path list yields, as "pid:path" joined by '|'.
QString describePaths(const std::vector<uint8_t>& bytes)
{
    QStringList parts;
    decodePathList(bytes.data(), bytes.size(), [&](U64 pid, const std::wstring& p) {
        parts << QStringLiteral("%1:%2").arg(pid).arg(QString::fromStdWString(p));
    });
    return parts.join(QLatin1Char('|'));
}

ConnectionItem item(U64 pid, bool history, uint32_t w1, uint16_t h1, uint16_t h2, uint32_t w2,
                    uint16_t h3, U64 in, U64 out)
{
    return ConnectionItem{ConnectionDataItem{pid, w1, h1, h2, w2, h3, in, out}, history};
}

// UTF-16 code units a decoded path occupied on the wire.
size_t utf16Units(const std::wstring& s)
{
    size_t n = 0;
    for (wchar_t c : s)
        n += static_cast<uint32_t>(c) >= 0x10000 ? 2 : 1;
    return n;
}

} // namespace

class TestFilterWire : public QObject
{
    Q_OBJECT

private slots:
    // The layouts byte for byte: a change here breaks every peer already deployed.
    void exactBytes_data()
    {
        QTest::addColumn<std::vector<uint8_t>>("encoded");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("path record") << encodePathRecord(0x0102030405060708ull, "A\xc3\xa9")
                                     << QByteArray("\x12\0\0\0\x08\x07\x06\x05\x04\x03\x02\x01"
                                                   "A\0\xe9\0\0\0",
                                                   18);
        QTest::newRow("path list end") << encodePathList({}) << QByteArray(12, '\0');
        QTest::newRow("empty connection list") << encodeConnectionList({}) << QByteArray(41, '\0');
        QTest::newRow("live item")
            << encodeConnectionList(
                   {item(0x1122334455667788ull, false, 0xA1A2A3A4, 0xB1B2, 0xC1C2, 0xD1D2D3D4,
                         0xE1E2, 0x0102030405060708ull, 0x1112131415161718ull)})
            << (QByteArray("\x01\0\x88\x77\x66\x55\x44\x33\x22\x11\0"
                           "\xA4\xA3\xA2\xA1\xB2\xB1\xC2\xC1\xD4\xD3\xD2\xD1\xE2\xE1"
                           "\x08\x07\x06\x05\x04\x03\x02\x01\x18\x17\x16\x15\x14\x13\x12\x11",
                           41) +
                QByteArray(39, '\0'));
        QTest::newRow("history item drops the identity")
            << encodeConnectionList({item(42, true, 9, 9, 9, 9, 9, 1000, 2000)})
            << (QByteArray("\x01\0\x2a\0\0\0\0\0\0\0\x01", 11) + QByteArray(14, '\0') +
                QByteArray("\xe8\x03\0\0\0\0\0\0\xd0\x07\0\0\0\0\0\0", 16) + QByteArray(39, '\0'));
        QTest::newRow("request path")
            << encodeRequestPath(L"/a\U0001F600") << QByteArray("/\0a\0\x3d\xd8\x00\xde\0\0", 10);
        QTest::newRow("request frame")
            << encodeRequest(CodeConnectionsFirst, 4096, nullptr, 0)
            << QByteArray("\x06\x70\x12\x00\x00\x10\x00\x00\x00\x00\x00\x00", 12);
        const std::vector<uint8_t> in{'/', 0, 0, 0};
        QTest::newRow("block frame")
            << encodeRequest(CodeBlock, 0, in.data(), in.size())
            << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x04\x00\x00\x00/\0\0\0", 16);
        QTest::newRow("unblock frame") << encodeRequest(CodeUnblock, 0, nullptr, 0)
                                       << QByteArray("\x0D\xA8\x12\0\0\0\0\0\0\0\0\0", 12);
        QTest::newRow("path list frames")
            << concat({encodeRequest(CodeProcessPathsFirst, 1, nullptr, 0),
                       encodeRequest(CodeProcessPathsNext, 1, nullptr, 0),
                       encodeRequest(CodeConnectionsNext, 1, nullptr, 0)})
            << QByteArray("\x06\x6C\x12\0\x01\0\0\0\0\0\0\0"
                          "\x02\x6C\x12\0\x01\0\0\0\0\0\0\0"
                          "\x02\x70\x12\0\x01\0\0\0\0\0\0\0",
                          36);
        const std::vector<uint8_t> out{7, 8};
        QTest::newRow("reply frame") << encodeReply(ErrMoreData, out.data(), out.size())
                                     << QByteArray("\xea\0\0\0\x02\0\0\0\x07\x08", 10);
        QTest::newRow("hello") << encodeHello(0, 2) << QByteArray("\0\0\0\0\x02\0\0\0", 8);
    }

    void exactBytes()
    {
        QFETCH(std::vector<uint8_t>, encoded);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded, bytesOf(expected));
    }

    void pathList_data()
    {
        QTest::addColumn<std::vector<uint8_t>>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two records")
            << encodePathList({{4, "System"}, {1234, "\\Device\\HarddiskVolume2\\app.exe"}})
            << "4:System|1234:\\Device\\HarddiskVolume2\\app.exe";
        QTest::newRow("only the end") << encodePathList({}) << "";
        {
            auto b = encodePathList({{7, "a.exe"}});
            b[b.size() - 3] = 1;
            QTest::newRow("end bytes not zero") << b << "";
        }
        QTest::newRow("shorter than the end") << std::vector<uint8_t>(11, 0) << "";
        {
            // Length 0 stops the walk even though bytes follow.
            auto b = encodePathList({{7, "first"}, {8, "x"}, {9, "never"}});
            setRecordLength(b, encodePathRecord(7, "first").size(), 0);
            QTest::newRow("length zero stops") << b << "7:first";
        }
        {
            auto b = encodePathList({{7, "first"}, {8, "runs past"}});
            setRecordLength(b, encodePathRecord(7, "first").size(), 400);
            QTest::newRow("length past the end stops") << b << "7:first";
        }
        {
            auto b = encodePathList({{7, "first"}, {8, "tiny"}});
            setRecordLength(b, encodePathRecord(7, "first").size(), 4);
            QTest::newRow("length shorter than a head stops") << b << "7:first";
        }
        {
            // A path whose NUL is missing ends with its record, not in the next one.
            auto b = encodePathList({{7, "ab"}, {8, "cd"}});
            b.erase(b.begin() + 16, b.begin() + 18);
            setRecordLength(b, 0, 16);
            QTest::newRow("path without NUL ends with its record") << b << "7:ab|8:cd";
        }
        QTest::newRow("same id twice is reported twice")
            << encodePathList({{5, "one"}, {5, "two"}}) << "5:one|5:two";
        QTest::newRow("non-ASCII and surrogate pairs")
            << encodePathList({{3, "\xc3\xa9t\xc3\xa9/\xf0\x9f\x98\x80"}})
            << QString::fromUtf8("3:\u00e9t\u00e9/\U0001F600");
        QTest::newRow("invalid UTF-8 becomes U+FFFD")
            << encodePathList({{3, "a\xff"}}) << QString::fromUtf8("3:a\uFFFD");
    }

    void pathList()
    {
        QFETCH(std::vector<uint8_t>, bytes);
        QFETCH(QString, expected);
        QCOMPARE(describePaths(bytes), expected);
    }

    void connectionList_data()
    {
        QTest::addColumn<std::vector<uint8_t>>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("items");
        const auto two = encodeConnectionList(
            {item(10, false, 1, 2, 3, 4, 5, 100, 200), item(11, true, 0, 0, 0, 0, 0, 7, 8)});
        QTest::newRow("empty list is 41 bytes")
            << encodeConnectionList({}) << int(ListStatus::Ok) << 0;
        QTest::newRow("two items") << two << int(ListStatus::Ok) << 2;
        {
            auto b = two;
            b.pop_back();
            QTest::newRow("one byte short") << b << int(ListStatus::CountMismatch) << 0;
        }
        {
            auto b = two;
            b[0] = 3; // claims three
            QTest::newRow("count larger than the items")
                << b << int(ListStatus::CountMismatch) << 0;
        }
        {
            auto b = two;
            b[b.size() - 1] = 9;
            QTest::newRow("terminator not zero") << b << int(ListStatus::Malformed) << 0;
        }
        QTest::newRow("shorter than head and terminator")
            << std::vector<uint8_t>(40, 0) << int(ListStatus::Malformed) << 0;
    }

    void connectionList()
    {
        QFETCH(std::vector<uint8_t>, bytes);
        QFETCH(int, status);
        QFETCH(int, items);
        int got = 0;
        size_t count = 0;
        const ListStatus s = decodeConnectionList(
            bytes.data(), bytes.size(), [&](const ConnectionItem&) { ++got; }, &count);
        QCOMPARE(int(s), status);
        QCOMPARE(got, items);
        QCOMPARE(count, size_t(bytes.size() >= 2 && s != ListStatus::Malformed ? bytes[0] : 0));
    }

    // Random records come back exactly as they were sent.
    void roundTrip()
    {
        std::mt19937_64 rng(20261207);
        for (int round = 0; round < 2000; ++round) {
            std::vector<ConnectionItem> items(rng() % 120);
            for (ConnectionItem& i : items) {
                i.history = rng() % 4 == 0;
                i.live.processId = rng();
                i.live.bytesIn = rng();
                i.live.bytesOut = rng();
                if (!i.history) {
                    i.live.identityWord1 = uint32_t(rng());
                    i.live.identityHalf1 = uint16_t(rng());
                    i.live.identityHalf2 = uint16_t(rng());
                    i.live.identityWord2 = uint32_t(rng());
                    i.live.identityHalf3 = uint16_t(rng());
                }
            }
            const auto bytes = encodeConnectionList(items);
            std::vector<ConnectionItem> back;
            QCOMPARE(decodeConnectionList(bytes.data(), bytes.size(),
                                          [&](const ConnectionItem& i) { back.push_back(i); }),
                     ListStatus::Ok);
            QVERIFY(back == items);

            std::vector<ProcessPath> paths(rng() % 20);
            for (ProcessPath& p : paths) {
                p.pid = rng();
                QString text;
                for (size_t n = rng() % 40; n > 0; --n) {
                    // Any code point but NUL and the surrogates, from all planes.
                    char32_t cp = char32_t(1 + rng() % 0x10FFFF);
                    if (cp >= 0xD800 && cp < 0xE000)
                        cp = U'x';
                    text += QString::fromUcs4(&cp, 1);
                }
                p.path = text.toStdString();
            }
            const auto list = encodePathList(paths);
            size_t k = 0;
            decodePathList(list.data(), list.size(), [&](U64 pid, const std::wstring& path) {
                QVERIFY(k < paths.size());
                QCOMPARE(pid, paths[k].pid);
                QCOMPARE(QString::fromStdWString(path), QString::fromStdString(paths[k].path));
                ++k;
            });
            QCOMPARE(k, paths.size());

            if (!paths.empty() && !paths[0].path.empty()) {
                const std::wstring wide = QString::fromStdString(paths[0].path).toStdWString();
                const auto request = encodeRequestPath(wide);
                QCOMPARE(request.size(), (utf16Units(wide) + 1) * 2);
                QCOMPARE(decodeRequestPath(request.data(), request.size()), paths[0].path);
            }
        }
    }

    // Random bytes, often shaped like a list: whatever decodes lies inside the input, and a
    // connection list that decodes re-encodes to the same items.
    void randomBytes()
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
                bytes[0] = uint8_t((bytes.size() - 41) / 39 + rng() % 2);
                bytes[1] = 0;
            }
            // Record lengths that walk the list, so that several records decode.
            if (bytes.size() > 40 && rng() % 2) {
                size_t offset = 0;
                while (offset + 16 < bytes.size() - 12) {
                    const uint32_t length = uint32_t(12 + 2 * (rng() % 6));
                    setRecordLength(bytes, offset, length);
                    offset += length;
                }
            }
            std::vector<ConnectionItem> items;
            const ListStatus s = decodeConnectionList(
                bytes.data(), bytes.size(), [&](const ConnectionItem& i) { items.push_back(i); });
            if (s == ListStatus::Ok) {
                QCOMPARE(items.size() * ConnectionItemSize + 41, bytes.size());
                for (size_t k = 0; k < items.size(); ++k) {
                    const uint8_t* raw = bytes.data() + 2 + k * ConnectionItemSize;
                    QCOMPARE(items[k].history, raw[8] != 0);
                    QCOMPARE(items[k].live.processId, U64(raw[0]) | U64(raw[1]) << 8 |
                                                          U64(raw[2]) << 16 | U64(raw[3]) << 24 |
                                                          U64(raw[4]) << 32 | U64(raw[5]) << 40 |
                                                          U64(raw[6]) << 48 | U64(raw[7]) << 56);
                }
            } else {
                QVERIFY(items.empty());
            }
            size_t used = 0;
            decodePathList(bytes.data(), bytes.size(), [&](U64, const std::wstring& path) {
                used += PathRecordHeadSize + 2 * utf16Units(path);
            });
            QVERIFY2(used + (used ? PathListEndSize : 0) <= bytes.size(),
                     qPrintable(QStringLiteral("%1 of %2").arg(used).arg(bytes.size())));
        }
    }

    void framing_data()
    {
        QTest::addColumn<int>("kind"); // 0 request, 1 reply, 2 hello
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("valid");
        QTest::newRow("request head only")
            << 0 << QByteArray("\x06\x70\x12\x00\x00\x10\x00\x00\x00\x00\x00\x00", 12) << true;
        QTest::newRow("request short head") << 0 << QByteArray("\x06\x70\x12\x00", 4) << false;
        QTest::newRow("request input length larger than sent")
            << 0 << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x08\x00\x00\x00/\0", 14) << false;
        QTest::newRow("request input length smaller than sent")
            << 0 << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x01\x00\x00\x00/\0", 14) << false;
        QTest::newRow("request input exact")
            << 0 << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\x02\x00\x00\x00/\0", 14) << true;
        QTest::newRow("request huge claimed input")
            << 0 << QByteArray("\x09\xA8\x12\x00\x00\x00\x00\x00\xff\xff\xff\xff", 12) << false;
        QTest::newRow("reply empty") << 1 << QByteArray("\x7a\0\0\0\0\0\0\0", 8) << true;
        QTest::newRow("reply short head") << 1 << QByteArray("\0\0\0\0\0\0\0", 7) << false;
        QTest::newRow("reply length past the message")
            << 1 << QByteArray("\0\0\0\0\x03\0\0\0\x01\x02", 10) << false;
        QTest::newRow("reply length short of the message")
            << 1 << QByteArray("\0\0\0\0\x01\0\0\0\x01\x02", 10) << false;
        QTest::newRow("hello") << 2 << QByteArray("\0\0\0\0\x01\0\0\0", 8) << true;
        QTest::newRow("hello too long") << 2 << QByteArray("\0\0\0\0\x01\0\0\0\0", 9) << false;
        QTest::newRow("hello too short") << 2 << QByteArray("\0\0\0\0\x01\0\0", 7) << false;
    }

    void framing()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, message);
        QFETCH(bool, valid);
        const auto* p = reinterpret_cast<const uint8_t*>(message.constData());
        const size_t n = size_t(message.size());
        const bool decoded = kind == 0   ? decodeRequest(p, n).has_value()
                             : kind == 1 ? decodeReply(p, n).has_value()
                                         : decodeHello(p, n).has_value();
        QCOMPARE(decoded, valid);
    }

    // Frames come back as they were encoded, and the input they point at is the message's.
    void framingRoundTrip()
    {
        std::mt19937 rng(3);
        for (int round = 0; round < 500; ++round) {
            std::vector<uint8_t> payload(rng() % 300);
            for (auto& b : payload)
                b = uint8_t(rng());
            const uint32_t code = rng();
            const uint32_t capacity = rng();
            const auto request = encodeRequest(code, capacity, payload.data(), payload.size());
            const auto req = decodeRequest(request.data(), request.size());
            QVERIFY(req);
            QCOMPARE(req->code, code);
            QCOMPARE(req->capacity, capacity);
            QCOMPARE(std::vector<uint8_t>(req->input, req->input + req->inputLength), payload);
            const auto reply = encodeReply(code, payload.data(), payload.size());
            const auto rep = decodeReply(reply.data(), reply.size());
            QVERIFY(rep);
            QCOMPARE(rep->error, code);
            QCOMPARE(std::vector<uint8_t>(rep->output, rep->output + rep->outputLength), payload);
        }
    }
};

QTEST_GUILESS_MAIN(TestFilterWire)
#include "tst_filterwire.moc"

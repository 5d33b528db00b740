// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile peer of the filter service: random, cut-short and oversized messages on both of its
// sockets, and peers that leave in the middle of a reply. Prints how many requests it sent and
// fails if the service stops answering.
//   filterpoke DIR COUNT
#include "filterwire/filterwire.h"
#include "filterwire/framing.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace fs = vb::filterwire;

namespace {

int connectTo(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    uint8_t hello[8];
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0 || recv(fd, hello, sizeof hello, 0) != 8) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends one message and waits for the reply; false when the service is gone.
bool exchange(int fd, const std::vector<uint8_t>& msg, uint32_t* error)
{
    if (send(fd, msg.data(), msg.size(), MSG_NOSIGNAL) < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0)
        return false;
    static std::vector<uint8_t> buf(fs::ReplyHeadSize + fs::MaxReplyOutput);
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    const auto reply = n > 0 ? fs::decodeReply(buf.data(), static_cast<size_t>(n)) : std::nullopt;
    if (!reply)
        return false;
    *error = reply->error;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    alarm(240);
    const std::string dir = argv[1];
    const long count = std::atol(argv[2]);
    std::mt19937 rng(12345);
    const uint32_t codes[] = {fs::CodeProcessPathsFirst,
                              fs::CodeProcessPathsNext,
                              fs::CodeConnectionsFirst,
                              fs::CodeConnectionsNext,
                              fs::CodeBlock,
                              fs::CodeUnblock};
    int fd = -1;
    long sent = 0, replies = 0, reconnects = 0, leftMidway = 0;
    for (long i = 0; i < count; ++i) {
        if (fd < 0 || i % 997 == 0) {
            if (fd >= 0)
                close(fd);
            fd = connectTo(dir + "/" +
                           (rng() % 2 ? fs::ReadWriteSocketName : fs::ReadOnlySocketName));
            ++reconnects;
            if (fd < 0) {
                std::printf("connect failed at request %ld\n", i);
                return 1;
            }
        }
        std::vector<uint8_t> input(rng() % 80);
        for (auto& b : input)
            b = static_cast<uint8_t>(rng() % 3 ? rng() : 0);
        const uint32_t code = rng() % 5 ? codes[rng() % 6] : static_cast<uint32_t>(rng());
        std::vector<uint8_t> msg =
            fs::encodeRequest(code, rng() % 3 ? 4096 : rng(), input.data(), input.size());
        switch (rng() % 8) {
        case 0:
            msg.resize(rng() % msg.size()); // cut short, possibly empty
            break;
        case 1:
            msg.resize(fs::MaxRequestInput + 100, 0xAB); // larger than any request may be
            break;
        case 2:
            msg[8] = static_cast<uint8_t>(rng()); // input length that does not add up
            break;
        default:
            break;
        }
        ++sent;
        if (rng() % 500 == 0) {
            // Ask for a list and leave before reading it.
            const auto big = fs::encodeRequest(fs::CodeConnectionsFirst, 65536, nullptr, 0);
            send(fd, big.data(), big.size(), MSG_NOSIGNAL);
            close(fd);
            fd = -1;
            ++leftMidway;
            continue;
        }
        uint32_t error = 0;
        if (!exchange(fd, msg, &error)) {
            // An empty message reads as the peer's end on a seqpacket socket: the service may
            // hang up on it. Anything else must be answered.
            close(fd);
            fd = -1;
            if (!msg.empty()) {
                std::printf("no reply at request %ld (code %u, %zu bytes)\n", i, code, msg.size());
                return 1;
            }
            continue;
        }
        ++replies;
    }
    std::printf("sent=%ld replies=%ld reconnects=%ld left=%ld\n", sent, replies, reconnects,
                leftMidway);
    return 0;
}

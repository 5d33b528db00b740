// SPDX-License-Identifier: GPL-3.0-or-later
// Hand-built filter replies for the tests, byte by byte as the device lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wire {

inline void putLe(std::vector<uint8_t>& out, uint64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One path record; length 0 means "the true length".
inline void pathRecord(std::vector<uint8_t>& out, uint64_t pid, const std::u16string& path,
                       uint32_t length = 0)
{
    const uint32_t real = static_cast<uint32_t>(12 + (path.size() + 1) * 2);
    putLe(out, length ? length : real, 4);
    putLe(out, pid, 8);
    for (char16_t c : path)
        putLe(out, c, 2);
    putLe(out, 0, 2);
}

inline void pathEnd(std::vector<uint8_t>& out)
{
    out.insert(out.end(), 12, 0);
}

struct Item
{
    uint64_t pid;
    uint8_t history;
    uint32_t w1;
    uint16_t h1, h2;
    uint32_t w2;
    uint16_t h3;
    uint64_t in, out;
};

inline void connectionItem(std::vector<uint8_t>& out, const Item& i)
{
    putLe(out, i.pid, 8);
    putLe(out, i.history, 1);
    putLe(out, i.w1, 4);
    putLe(out, i.h1, 2);
    putLe(out, i.h2, 2);
    putLe(out, i.w2, 4);
    putLe(out, i.h3, 2);
    putLe(out, i.in, 8);
    putLe(out, i.out, 8);
}

inline std::vector<uint8_t> connList(const std::vector<Item>& items)
{
    std::vector<uint8_t> out;
    putLe(out, items.size(), 2);
    for (const Item& i : items)
        connectionItem(out, i);
    out.insert(out.end(), 39, 0);
    return out;
}

} // namespace wire

#pragma once
// Randomized mutation of valid encodings: bit flips, byte overwrites with boundary
// values, truncation, insertion and deletion. Fixed seeds keep failures reproducible.
#include <cstdint>
#include <random>

#include "core/Bytes.h"

namespace wm::test {

inline Bytes mutate(const Bytes& original, std::mt19937_64& rng) {
    Bytes b = original;
    const int steps = 1 + static_cast<int>(rng() % 4);
    for (int s = 0; s < steps; ++s) {
        const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
        switch (rng() % 6) {
            case 0:  // flip one bit
                if (!b.empty()) b[pick(b.size())] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                break;
            case 1: {  // a boundary value, where lengths and counts are most dangerous
                static constexpr std::uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
                if (!b.empty()) b[pick(b.size())] = values[rng() % 6];
                break;
            }
            case 2:  // truncate
                b.resize(pick(b.size() + 1));
                break;
            case 3: {  // insert random bytes
                const std::size_t at = pick(b.size() + 1);
                const std::size_t n = 1 + pick(8);
                for (std::size_t i = 0; i < n; ++i)
                    b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng()));
                break;
            }
            case 4: {  // delete a run
                if (b.empty()) break;
                const std::size_t at = pick(b.size());
                const std::size_t n = 1 + pick(std::min<std::size_t>(8, b.size() - at));
                b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
                break;
            }
            default: {  // four 0xFF bytes: a huge little-endian count or length
                if (b.size() < 4) break;
                const std::size_t at = pick(b.size() - 3);
                for (std::size_t i = 0; i < 4; ++i) b[at + i] = 0xFF;
                break;
            }
        }
    }
    return b;
}

}  // namespace wm::test

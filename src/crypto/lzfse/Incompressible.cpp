#include "crypto/lzfse/Incompressible.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "crypto/lzfse/Format.h"

namespace wm::lzfse {

namespace {

// Between windows, every this-many-th position is remembered, so a repeat of earlier
// input this long or longer is still found.
constexpr std::size_t sparseStep = 32;
constexpr int maxTableLog = 15;
constexpr double compressibleShare = 0.97;
constexpr std::size_t matchCost = 3;  // bytes a match roughly takes

std::uint32_t hash4(const std::uint8_t* p, int tableLog) { return (load32(p) * 2654435761u) >> (32 - tableLog); }

// Bits the bytes take when each is coded by its frequency among them.
double entropyBits(const std::array<std::uint32_t, 256>& counts, std::size_t total) {
    if (total == 0) return 0;
    double bits = static_cast<double>(total) * std::log2(static_cast<double>(total));
    for (std::uint32_t c : counts) {
        if (c > 1) bits -= c * std::log2(static_cast<double>(c));
    }
    return bits;
}

}  // namespace

bool looksIncompressible(ByteView input, std::uint32_t maxDistance) {
    const std::size_t n = input.size();
    if (n >= UINT32_MAX) return false;  // positions are kept in 32 bits
    const std::uint8_t* data = input.data();
    // Positions + 1; 0 marks an empty slot. About two slots per position remembered.
    const int tableLog =
        std::clamp(static_cast<int>(std::bit_width(2 * (trialWindow + n / sparseStep))), 10, maxTableLog);
    std::vector<std::uint32_t> table(std::size_t{1} << tableLog, 0);
    for (std::size_t start = 0; start < n; start += trialStretch) {
        const std::size_t windowEnd = std::min(n, start + trialWindow);
        const std::size_t stretchEnd = std::min(n, start + trialStretch);
        std::array<std::uint32_t, 256> counts{};
        std::size_t literals = 0;
        std::size_t matches = 0;
        std::size_t p = start;
        while (p < windowEnd) {
            if (p + 4 <= n) {
                const std::uint32_t h = hash4(data + p, tableLog);
                const std::uint32_t slot = table[h];
                table[h] = static_cast<std::uint32_t>(p + 1);
                if (slot != 0 && p - (slot - 1) <= maxDistance && load32(data + slot - 1) == load32(data + p)) {
                    const std::uint8_t* m = data + slot - 1;
                    std::size_t len = 4;
                    while (p + len < windowEnd && m[len] == data[p + len]) ++len;
                    ++matches;
                    p += len;
                    continue;
                }
            }
            ++counts[data[p]];
            ++literals;
            ++p;
        }
        const double estimate = entropyBits(counts, literals) / 8 + static_cast<double>(matches * matchCost);
        if (estimate < compressibleShare * static_cast<double>(windowEnd - start)) return false;
        for (std::size_t q = windowEnd; q + 4 <= stretchEnd; q += sparseStep) {
            table[hash4(data + q, tableLog)] = static_cast<std::uint32_t>(q + 1);
        }
    }
    return true;
}

}  // namespace wm::lzfse

#include "crypto/lzfse/FSE.h"

#include <bit>

namespace wm::lzfse {

void normalizeFrequencies(const std::uint32_t* counts, int symbols, int states, std::uint16_t* freq) {
    std::uint64_t total = 0;
    for (int i = 0; i < symbols; ++i) total += counts[i];
    if (total == 0) {
        for (int i = 0; i < symbols; ++i) freq[i] = 0;
        freq[0] = static_cast<std::uint16_t>(states);
        return;
    }
    // Rounded proportional share, at least 1 for every symbol present.
    const int stateLog = std::countr_zero(static_cast<unsigned>(states));
    const std::uint64_t step = (std::uint64_t{1} << 62) / total;
    const int shift = 62 - stateLog;
    int remaining = states;
    int largest = 0;
    for (int i = 0; i < symbols; ++i) {
        std::uint64_t scaled = counts[i] * step;
        int f = static_cast<int>(((scaled >> (shift - 1)) + 1) >> 1);
        if (counts[i] != 0 && f == 0) f = 1;
        freq[i] = static_cast<std::uint16_t>(f);
        remaining -= f;
        if (f > freq[largest]) largest = i;
    }
    // Small differences go to the most frequent symbol, where they cost least.
    if (-remaining < (freq[largest] >> 2)) {
        freq[largest] = static_cast<std::uint16_t>(freq[largest] + remaining);
        return;
    }
    // Otherwise take the excess from every symbol in proportion, coarse passes first.
    int excess = -remaining;
    for (int passShift = 3; passShift >= 0 && excess > 0; --passShift) {
        for (int i = 0; i < symbols && excess > 0; ++i) {
            if (freq[i] <= 1) continue;
            int take = (freq[i] - 1) >> passShift;
            if (take > excess) take = excess;
            freq[i] = static_cast<std::uint16_t>(freq[i] - take);
            excess -= take;
        }
    }
}

namespace {

// k with states <= f * 2^k < 2 * states.
int stateShift(int f, int stateLog) { return stateLog - (31 - std::countl_zero(static_cast<unsigned>(f))); }

bool completeTable(const std::uint16_t* freq, int symbols, int states) {
    int sum = 0;
    for (int i = 0; i < symbols; ++i) sum += freq[i];
    return sum == states;
}

}  // namespace

bool buildLiteralDecodeTable(const std::uint16_t* freq, LiteralDecodeEntry* table) {
    constexpr int states = 1024, stateLog = 10;
    if (!completeTable(freq, 256, states)) return false;
    int next = 0;
    for (int s = 0; s < 256; ++s) {
        const int f = freq[s];
        if (f == 0) continue;
        const int k = stateShift(f, stateLog);
        const int j0 = ((2 * states) >> k) - f;
        for (int j = 0; j < f; ++j) {
            LiteralDecodeEntry& e = table[next++];
            e.symbol = static_cast<std::uint8_t>(s);
            if (j < j0) {
                e.nbits = static_cast<std::uint8_t>(k);
                e.base = static_cast<std::uint16_t>(((f + j) << k) - states);
            } else {
                e.nbits = static_cast<std::uint8_t>(k - 1);
                e.base = static_cast<std::uint16_t>((j - j0) << (k - 1));
            }
        }
    }
    return true;
}

bool buildValueDecodeTable(const std::uint16_t* freq, int symbols, int states, const std::uint8_t* extraBits,
                           const std::uint32_t* valueBase, ValueDecodeEntry* table) {
    if (!completeTable(freq, symbols, states)) return false;
    const int stateLog = std::countr_zero(static_cast<unsigned>(states));
    int next = 0;
    for (int s = 0; s < symbols; ++s) {
        const int f = freq[s];
        if (f == 0) continue;
        const int k = stateShift(f, stateLog);
        const int j0 = ((2 * states) >> k) - f;
        for (int j = 0; j < f; ++j) {
            ValueDecodeEntry& e = table[next++];
            e.extraBits = extraBits[s];
            e.valueBase = valueBase[s];
            int nbits, base;
            if (j < j0) {
                nbits = k;
                base = ((f + j) << k) - states;
            } else {
                nbits = k - 1;
                base = (j - j0) << (k - 1);
            }
            e.totalBits = static_cast<std::uint8_t>(nbits + extraBits[s]);
            e.base = static_cast<std::uint16_t>(base);
        }
    }
    return true;
}

void buildEncodeTable(const std::uint16_t* freq, int symbols, int states, EncodeSymbol* table) {
    const int stateLog = std::countr_zero(static_cast<unsigned>(states));
    int offset = 0;
    for (int s = 0; s < symbols; ++s) {
        EncodeSymbol& e = table[s];
        const int f = freq[s];
        e.freq = static_cast<std::uint16_t>(f);
        e.offset = static_cast<std::uint16_t>(offset);
        if (f != 0) {
            const int k = stateShift(f, stateLog);
            e.k = static_cast<std::uint8_t>(k);
            e.threshold = static_cast<std::uint16_t>((f << k) - states);
        }
        offset += f;
    }
}

}  // namespace wm::lzfse

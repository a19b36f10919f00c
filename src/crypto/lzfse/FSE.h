#pragma once
// Table-based finite-state entropy coding (tANS) as LZFSE uses it: frequency
// normalisation, decoding tables and encoding tables. States are handed out to symbols
// contiguously in symbol order.
#include <cstddef>
#include <cstdint>

namespace wm::lzfse {

// Turns symbol counts into frequencies that sum to exactly `states` (a power of two),
// giving every symbol that occurs at least 1. With no counts at all, symbol 0 gets
// every state.
void normalizeFrequencies(const std::uint32_t* counts, int symbols, int states, std::uint16_t* freq);

// One decoding-table entry of the literal stream.
struct LiteralDecodeEntry {
    std::uint8_t nbits;   // state bits to read
    std::uint8_t symbol;  // literal byte
    std::uint16_t base;   // next state = base + read(nbits)
};

// One decoding-table entry of the L, M or D stream: the state bits and the value's
// extra bits are read together, state bits in the high part.
struct ValueDecodeEntry {
    std::uint8_t totalBits;  // state bits + extra bits
    std::uint8_t extraBits;
    std::uint16_t base;       // next state = base + (read >> extraBits)
    std::uint32_t valueBase;  // value = valueBase + (read & mask(extraBits))
};

// Both builders need a complete table (sum of freq == states); they return false
// otherwise, leaving the table unusable.
bool buildLiteralDecodeTable(const std::uint16_t* freq, LiteralDecodeEntry* table);
bool buildValueDecodeTable(const std::uint16_t* freq, int symbols, int states, const std::uint8_t* extraBits,
                           const std::uint32_t* valueBase, ValueDecodeEntry* table);

// Per-symbol encoding parameters.
struct EncodeSymbol {
    std::uint16_t freq = 0;
    std::uint16_t offset = 0;     // first state owned by the symbol
    std::uint16_t threshold = 0;  // states at or above it emit k bits, below it k - 1
    std::uint8_t k = 0;
};

// freq must sum to states (unused symbols have 0 and are never encoded).
void buildEncodeTable(const std::uint16_t* freq, int symbols, int states, EncodeSymbol* table);

// Codes one symbol: returns the number of low bits of `state` to write, and moves
// `state` to the state the decoder is in before decoding the symbol.
inline unsigned encodeStep(const EncodeSymbol& s, int states, std::uint32_t& state, std::uint32_t& bitsOut) {
    unsigned nbits = state >= s.threshold ? s.k : static_cast<unsigned>(s.k - 1);
    bitsOut = state & ((1u << nbits) - 1);
    state = s.offset + ((state + static_cast<std::uint32_t>(states)) >> nbits) - s.freq;
    return nbits;
}

}  // namespace wm::lzfse

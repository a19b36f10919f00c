#pragma once
// Constants of the LZFSE stream format shared by the decoder and the encoder:
// block magics, per-block limits and the value tables of the L, M and D streams.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wm::lzfse {

inline constexpr std::uint32_t endOfStreamMagic = 0x24787662;   // "bvx$"
inline constexpr std::uint32_t uncompressedMagic = 0x2D787662;  // "bvx-"
inline constexpr std::uint32_t lzfseV1Magic = 0x31787662;       // "bvx1"
inline constexpr std::uint32_t lzfseV2Magic = 0x32787662;       // "bvx2"
inline constexpr std::uint32_t lzvnMagic = 0x6E787662;          // "bvxn"

inline constexpr std::size_t maxLiteralsPerBlock = 40000;
inline constexpr std::size_t maxMatchesPerBlock = 10000;
inline constexpr std::uint32_t maxLiteralRun = 315;  // L of one triple
inline constexpr std::uint32_t maxMatchRun = 2359;   // M of one triple
inline constexpr std::uint32_t maxLZFSEDistance = 262139;
inline constexpr std::uint32_t maxLZVNDistance = 65535;

inline constexpr std::size_t v1HeaderSize = 772;
inline constexpr std::size_t v2FixedHeaderSize = 32;

// Alphabet sizes and state counts of the four entropy-coded streams.
inline constexpr int literalSymbols = 256, literalStates = 1024, literalStateBits = 10;
inline constexpr int lSymbols = 20, lStates = 64, lStateBits = 6;
inline constexpr int mSymbols = 20, mStates = 64, mStateBits = 6;
inline constexpr int dSymbols = 64, dStates = 256, dStateBits = 8;

inline constexpr std::array<std::uint8_t, lSymbols> lExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                  0, 0, 0, 0, 0, 0, 2, 3, 5, 8};
inline constexpr std::array<std::uint32_t, lSymbols> lBase = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                              10, 11, 12, 13, 14, 15, 16, 20, 28, 60};
inline constexpr std::array<std::uint8_t, mSymbols> mExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                  0, 0, 0, 0, 0, 0, 3, 5, 8, 11};
inline constexpr std::array<std::uint32_t, mSymbols> mBase = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                              10, 11, 12, 13, 14, 15, 16, 24, 56, 312};

inline constexpr std::array<std::uint8_t, dSymbols> dExtraBits = [] {
    std::array<std::uint8_t, dSymbols> bits{};
    for (int s = 0; s < dSymbols; ++s) bits[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(s / 4);
    return bits;
}();
inline constexpr std::array<std::uint32_t, dSymbols> dBase = [] {
    std::array<std::uint32_t, dSymbols> base{};
    for (std::size_t s = 1; s < dSymbols; ++s) base[s] = base[s - 1] + (1u << dExtraBits[s - 1]);
    return base;
}();
static_assert(dBase[63] + (1u << dExtraBits[63]) - 1 == maxLZFSEDistance);

inline std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;  // the project only targets little-endian hosts
}
inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
inline void store64(std::uint8_t* p, std::uint64_t v) { std::memcpy(p, &v, 8); }

static_assert(std::endian::native == std::endian::little, "LZFSE code assumes a little-endian host");

}  // namespace wm::lzfse

// Frequency normalisation feeds every table the decoder must accept: sums must be exact
// and no symbol that occurs may lose its states.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/lzfse/FSE.h"

namespace wm::lzfse {
namespace {

void expectValid(const std::vector<std::uint32_t>& counts, int states) {
    std::vector<std::uint16_t> freq(counts.size());
    normalizeFrequencies(counts.data(), static_cast<int>(counts.size()), states, freq.data());
    int sum = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        sum += freq[i];
        if (counts[i] != 0) {
            EXPECT_GE(freq[i], 1) << "symbol " << i;
        } else if (i != 0) {
            EXPECT_EQ(freq[i], 0) << "symbol " << i;
        }
    }
    EXPECT_EQ(sum, states);
}

TEST(LZFSEFrequencies, NormalisedTablesAreComplete) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> counts;
        int states;
    };
    std::vector<std::uint32_t> allOnes(256, 1), oneHeavy(256, 1), skewed(64, 0), none(20, 0), single(20, 0);
    oneHeavy[200] = 1000000;
    for (std::size_t i = 0; i < 64; ++i) skewed[i] = 1u << (i % 20);
    single[19] = 5;
    const Case cases[] = {
        {"every literal once", allOnes, 1024}, {"one dominant literal", oneHeavy, 1024},
        {"skewed distances", skewed, 256},     {"nothing counted", none, 64},
        {"single symbol", single, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectValid(c.counts, c.states);
    }
    std::mt19937 rng(5);
    for (int round = 0; round < 500; ++round) {
        std::vector<std::uint32_t> counts(round % 2 ? 20 : 64);
        for (auto& c : counts) c = rng() % 3 == 0 ? 0 : rng() % (1u << (rng() % 16));
        expectValid(counts, round % 2 ? 64 : 256);
    }
}

TEST(LZFSEFrequencies, EncoderAndDecoderTablesAreInverse) {
    // Every symbol from every state: the decoder's entry for the encoder's new state
    // names the symbol and leads back to the old state.
    std::vector<std::uint32_t> counts(20);
    for (std::size_t i = 0; i < counts.size(); ++i)
        counts[i] = static_cast<std::uint32_t>(i * i % 7 + (i == 3 ? 500 : 0));
    std::vector<std::uint16_t> freq(20);
    normalizeFrequencies(counts.data(), 20, 64, freq.data());
    std::vector<EncodeSymbol> enc(20);
    buildEncodeTable(freq.data(), 20, 64, enc.data());
    std::vector<std::uint8_t> extra(20, 0);
    std::vector<std::uint32_t> base(20);
    for (std::uint32_t i = 0; i < 20; ++i) base[i] = i;
    std::vector<ValueDecodeEntry> dec(64);
    ASSERT_TRUE(buildValueDecodeTable(freq.data(), 20, 64, extra.data(), base.data(), dec.data()));
    for (int s = 0; s < 20; ++s) {
        if (freq[static_cast<std::size_t>(s)] == 0) continue;
        for (std::uint32_t x = 0; x < 64; ++x) {
            std::uint32_t state = x, bits = 0;
            const unsigned n = encodeStep(enc[static_cast<std::size_t>(s)], 64, state, bits);
            ASSERT_LT(state, 64u);
            const ValueDecodeEntry& e = dec[state];
            EXPECT_EQ(e.valueBase, static_cast<std::uint32_t>(s));
            EXPECT_EQ(e.totalBits, n);
            EXPECT_EQ(e.base + bits, x);
        }
    }
    freq[3] -= 1;
    EXPECT_FALSE(buildValueDecodeTable(freq.data(), 20, 64, extra.data(), base.data(), dec.data()));
}

}  // namespace
}  // namespace wm::lzfse

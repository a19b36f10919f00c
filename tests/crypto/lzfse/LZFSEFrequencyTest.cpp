// Frequency normalisation feeds every table the decoder must accept: sums must be exact
// and no symbol that occurs may lose its states.
#include <gtest/gtest.h>

#include <tuple>
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
        // Symbol 0 may be given states it did not earn; no other symbol may.
        if (i != 0 || counts[i] != 0) {
            EXPECT_EQ(freq[i] != 0, counts[i] != 0) << "symbol " << i;
        }
    }
    EXPECT_EQ(sum, states);
}

TEST(LZFSEFrequencies, NormalisedTablesAreComplete) {
    std::vector<std::uint32_t> allOnes(256, 1), oneHeavy(256, 1), skewed(64, 0), none(20, 0), single(20, 0);
    oneHeavy[200] = 1000000;
    for (std::size_t i = 0; i < 64; ++i) skewed[i] = 1u << (i % 20);
    single[19] = 5;
    const std::tuple<const char*, std::vector<std::uint32_t>, int> cases[] = {{"every literal once", allOnes, 1024},
                                                                              {"one dominant literal", oneHeavy, 1024},
                                                                              {"skewed distances", skewed, 256},
                                                                              {"nothing counted", none, 64},
                                                                              {"single symbol", single, 64}};
    for (const auto& [name, counts, states] : cases) {
        SCOPED_TRACE(name);
        expectValid(counts, states);
    }
}

}  // namespace
}  // namespace wm::lzfse

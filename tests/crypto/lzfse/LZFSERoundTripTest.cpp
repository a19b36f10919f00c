// The encoder's streams decode back to their input, use the block kinds intended for
// each size and kind of data, and do not depend on anything but the input.
#include <map>

#include "LZFSETestData.h"

namespace wm::lzfse {
namespace {

// Counts blocks by magic; fails the test on a stream it cannot walk.
std::map<std::string, int> blockKinds(const Bytes& s) {
    std::map<std::string, int> kinds;
    auto field = [&](std::size_t at, int width) {
        std::uint64_t v = 0;
        for (int i = width; i-- > 0;) v = v << 8 | s.at(at + std::size_t(i));
        return v;
    };
    for (std::size_t at = 0; at + 4 <= s.size();) {
        const std::string magic(s.begin() + std::ptrdiff_t(at), s.begin() + std::ptrdiff_t(at + 4));
        ++kinds[magic];
        if (magic == "bvx$") {
            EXPECT_EQ(at + 4, s.size());
            return kinds;
        } else if (magic == "bvx-") {
            at += 8 + field(at + 4, 4);
        } else if (magic == "bvxn") {
            at += 12 + field(at + 8, 4);
        } else if (magic == "bvx2") {
            at += (field(at + 24, 8) & 0xFFFFFFFF) + (field(at + 8, 8) >> 20 & 0xFFFFF) + (field(at + 16, 8) >> 40 & 0xFFFFF);
        } else {
            ADD_FAILURE() << "unexpected magic at " << at;
            return kinds;
        }
    }
    ADD_FAILURE() << "stream without end marker";
    return kinds;
}

TEST(LZFSERoundTrip, EverySizeAndKindOfData) {
    const std::size_t sizes[] = {0, 1, 7, 8, 9, 100, 4095, 4096, 4097, 70000, (std::size_t{1} << 20) + 3};
    for (std::size_t n : sizes) {
        SCOPED_TRACE(n);
        for (const Bytes& input : {randomBytes(n, std::uint32_t(n)), repetitiveBytes(n), textBytes(n, 7), Bytes(n, 0)}) {
            ASSERT_EQ(lzfseDecode(lzfseEncode(input), n), input);
        }
    }
}

// LZVN below 4,096 bytes, LZFSE from there on, uncompressed blocks where nothing is gained
// (costing only their 8-byte headers, one per 40,000 literals or more); long inputs span blocks.
TEST(LZFSERoundTrip, BlockKindsFollowInputSizeAndContent) {
    struct Case {
        const char* name;
        Bytes input;
        const char* onlyKind;  // besides the end marker
        int blocks;            // at least
        double ratio;          // encoded size / input size, at most
    };
    const Case cases[] = {
        {"tiny", bytesOf("abcabca"), "bvx-", 1, 3},
        {"small text", textBytes(4095, 1), "bvxn", 1, 1},
        {"small random", randomBytes(4095, 1), "bvx-", 1, 1.01},
        {"8 bytes gain nothing", bytesOf("aaaaaaaa"), "bvx-", 1, 3},
        {"200 repetitive bytes", repetitiveBytes(200), "bvxn", 1, 1},
        {"4096 text", textBytes(4096, 2), "bvx2", 1, 1},
        {"large text", textBytes(3 << 20, 3), "bvx2", 2, 1.0 / 3},
        {"large random", randomBytes(1 << 20, 2), "bvx-", 1, 1 + (8.0 * 27 + 4) / (1 << 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes encoded = lzfseEncode(c.input);
        auto kinds = blockKinds(encoded);
        EXPECT_EQ(kinds["bvx$"], 1);
        kinds.erase("bvx$");
        ASSERT_FALSE(kinds.empty());
        for (const auto& [kind, count] : kinds) EXPECT_EQ(kind, c.onlyKind) << count;
        EXPECT_GE(kinds[c.onlyKind], c.blocks);
        EXPECT_LE(double(encoded.size()), c.ratio * double(c.input.size()));
        EXPECT_EQ(lzfseDecode(encoded, c.input.size()), c.input);
    }
    EXPECT_EQ(lzfseEncode({}), bytesOf("bvx$"));
}

TEST(LZFSERoundTrip, LongRunsAndDistancesAtTheWindowEdge) {
    struct Case {
        std::size_t period;  // random data repeated with this period
        std::size_t size;
        bool compresses;  // whether the period is within reach of a match
    };
    const Case cases[] = {
        {1, 3 << 20, true},       {3, 100000, true},
        {262139, 600000, true},   // the largest distance
        {262140, 600000, false},  // just beyond the window
        {300000, 700000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.period);
        const Bytes unit = randomBytes(c.period, 5);
        Bytes input(c.size);
        for (std::size_t i = 0; i < c.size; ++i) input[i] = unit[i % c.period];
        const Bytes encoded = lzfseEncode(input);
        EXPECT_EQ(encoded.size() < c.period + c.size / 50 + 1000, c.compresses);
        EXPECT_EQ(encoded.size() > input.size(), !c.compresses);
        EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
    }
}

// Random stretches (literal runs longer than one triple holds) between repeats of earlier
// text at many distances.
TEST(LZFSERoundTrip, MixedContentWithLongLiteralRuns) {
    std::mt19937 rng(3);
    const Bytes text = textBytes(200000, 4);
    Bytes input;
    while (input.size() < 900000) {
        const Bytes noise = randomBytes(rng() % 2000, rng());
        input.insert(input.end(), noise.begin(), noise.end());
        const auto from = text.begin() + std::ptrdiff_t(rng() % (text.size() - 5000));
        input.insert(input.end(), from, from + std::ptrdiff_t(rng() % 5000));
    }
    EXPECT_EQ(lzfseDecode(lzfseEncode(input), input.size()), input);
}

TEST(LZFSERoundTrip, EncodingIsDeterministic) {
    for (const Bytes& input : {textBytes(300000, 8), textBytes(2000, 9), randomBytes(50000, 10)}) {
        const Bytes first = lzfseEncode(input);
        (void)lzfseEncode(randomBytes(10000, 1));  // state left behind would show up
        EXPECT_EQ(lzfseEncode(input), first);
    }
}

}  // namespace
}  // namespace wm::lzfse

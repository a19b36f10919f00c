// The encoder's streams decode back to their input, use the block kinds intended for
// each size and kind of data, and do not depend on anything but the input.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "crypto/lzfse/LZFSE.h"

namespace wm {
namespace {

Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

Bytes repetitiveBytes(std::size_t n) {
    const std::string unit = "struct entry { int id; char name[16]; };\n";
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(unit[i % unit.size()]);
    return b;
}

// Source-like text: words drawn with a skewed distribution, so it has both repeats and novelty.
Bytes textBytes(std::size_t n, std::uint32_t seed) {
    static const char* words[] = {
        "static", "const",  "int",         "return",  "if",     "else",  "for",   "while", "struct",
        "value",  "buffer", "length",      "(",       ")",      "{",     "}",     ";",     "=",
        "+",      "->",     "std::size_t", "uint8_t", "result", "count", "index", "error", "void",
        "\n",     "    ",   "/* check */", "0",       "1",      "data",  "next",  "prev",  "node"};
    constexpr std::size_t wordCount = sizeof words / sizeof words[0];
    std::mt19937 rng(seed);
    std::geometric_distribution<std::size_t> pick(0.12);
    Bytes b;
    b.reserve(n + 32);
    while (b.size() < n) {
        std::size_t w = pick(rng) % wordCount;
        const char* s = words[w];
        b.insert(b.end(), s, s + std::strlen(s));
        if (rng() % 7 == 0) b.push_back(static_cast<std::uint8_t>('a' + rng() % 26));
        b.push_back(' ');
    }
    b.resize(n);
    return b;
}

// Counts blocks by magic; fails the test on a stream it cannot walk.
std::map<std::string, int> blockKinds(const Bytes& s) {
    std::map<std::string, int> kinds;
    std::size_t at = 0;
    auto u32 = [&](std::size_t o) {
        std::uint32_t v = 0;
        std::memcpy(&v, s.data() + o, 4);
        return v;
    };
    while (at + 4 <= s.size()) {
        const std::string magic(s.begin() + static_cast<std::ptrdiff_t>(at),
                                s.begin() + static_cast<std::ptrdiff_t>(at + 4));
        ++kinds[magic];
        if (magic == "bvx$") {
            EXPECT_EQ(at + 4, s.size());
            return kinds;
        }
        if (magic == "bvx-") {
            at += 8 + u32(at + 4);
        } else if (magic == "bvxn") {
            at += 12 + u32(at + 8);
        } else if (magic == "bvx2") {
            std::uint64_t p0, p1, p2;
            std::memcpy(&p0, s.data() + at + 8, 8);
            std::memcpy(&p1, s.data() + at + 16, 8);
            std::memcpy(&p2, s.data() + at + 24, 8);
            at += (p2 & 0xFFFFFFFF) + ((p0 >> 20) & 0xFFFFF) + ((p1 >> 40) & 0xFFFFF);
        } else {
            ADD_FAILURE() << "unexpected magic at " << at;
            return kinds;
        }
    }
    ADD_FAILURE() << "stream without end marker";
    return kinds;
}

void expectRoundTrip(const Bytes& input) {
    const Bytes encoded = lzfseEncode(input);
    ASSERT_EQ(lzfseDecode(encoded, input.size()), input);
}

TEST(LZFSERoundTrip, EverySizeAndKindOfData) {
    const std::size_t sizes[] = {0, 1, 7, 8, 9, 100, 4095, 4096, 4097, 70000, (std::size_t{1} << 20) + 3};
    for (std::size_t n : sizes) {
        SCOPED_TRACE(n);
        expectRoundTrip(randomBytes(n, static_cast<std::uint32_t>(n)));
        expectRoundTrip(repetitiveBytes(n));
        expectRoundTrip(textBytes(n, 7));
        expectRoundTrip(Bytes(n, 0));
    }
}

TEST(LZFSERoundTrip, BlockKindsFollowInputSizeAndContent) {
    struct Case {
        const char* name;
        Bytes input;
        const char* onlyKind;  // besides the end marker
    };
    const Case cases[] = {
        {"tiny", bytesOf("abcabca"), "bvx-"},
        {"small text", textBytes(4095, 1), "bvxn"},
        {"small random", randomBytes(4095, 1), "bvx-"},
        {"8 bytes gain nothing", bytesOf("aaaaaaaa"), "bvx-"},
        {"200 repetitive bytes", repetitiveBytes(200), "bvxn"},
        {"4096 text", textBytes(4096, 2), "bvx2"},
        {"large text", textBytes(600000, 3), "bvx2"},
        {"large random", randomBytes(300000, 2), "bvx-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes encoded = lzfseEncode(c.input);
        auto kinds = blockKinds(encoded);
        EXPECT_EQ(kinds["bvx$"], 1);
        kinds.erase("bvx$");
        ASSERT_FALSE(kinds.empty());
        for (const auto& [kind, count] : kinds) EXPECT_EQ(kind, c.onlyKind) << count;
        EXPECT_EQ(lzfseDecode(encoded, c.input.size()), c.input);
    }
    EXPECT_EQ(lzfseEncode({}), bytesOf("bvx$"));
}

TEST(LZFSERoundTrip, IncompressibleDataCostsOnlyBlockHeaders) {
    const Bytes input = randomBytes(1 << 20, 99);
    const Bytes encoded = lzfseEncode(input);
    // One 8-byte header per block of at least 40,000 literals, plus the end marker.
    EXPECT_LE(encoded.size(), input.size() + 8 * (input.size() / 40000 + 1) + 4);
    EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
}

TEST(LZFSERoundTrip, LargeTextSpansSeveralBlocksAndCompresses) {
    const Bytes input = textBytes(3 << 20, 11);
    const Bytes encoded = lzfseEncode(input);
    EXPECT_GT(blockKinds(encoded)["bvx2"], 1);
    EXPECT_LT(encoded.size() * 3, input.size());
    EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
}

TEST(LZFSERoundTrip, LongRunsAndDistancesAtTheWindowEdge) {
    struct Case {
        const char* name;
        std::size_t period;  // random data repeated with this period
        std::size_t size;
        bool compresses;  // whether the period is within reach of a match
    };
    const Case cases[] = {
        {"period 1", 1, 3 << 20, true},
        {"period 3", 3, 100000, true},
        {"period at the largest distance", 262139, 600000, true},
        {"period just beyond the window", 262140, 600000, false},
        {"period 300000", 300000, 700000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes unit = randomBytes(c.period, 5);
        Bytes input(c.size);
        for (std::size_t i = 0; i < c.size; ++i) input[i] = unit[i % c.period];
        const Bytes encoded = lzfseEncode(input);
        if (c.compresses)
            EXPECT_LT(encoded.size(), c.period + c.size / 50 + 1000);
        else
            EXPECT_GT(encoded.size(), input.size());
        EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
    }
}

TEST(LZFSERoundTrip, MixedContentWithLongLiteralRuns) {
    // Random stretches (literal runs longer than one triple holds) between repeats of
    // earlier text at many distances.
    std::mt19937 rng(3);
    const Bytes text = textBytes(200000, 4);
    Bytes input;
    while (input.size() < 900000) {
        const Bytes noise = randomBytes(rng() % 2000, rng());
        input.insert(input.end(), noise.begin(), noise.end());
        const std::size_t from = rng() % (text.size() - 5000);
        input.insert(input.end(), text.begin() + static_cast<std::ptrdiff_t>(from),
                     text.begin() + static_cast<std::ptrdiff_t>(from + rng() % 5000));
    }
    expectRoundTrip(input);
}

TEST(LZFSERoundTrip, EncodingIsDeterministic) {
    for (const Bytes& input : {textBytes(300000, 8), textBytes(2000, 9), randomBytes(50000, 10)}) {
        const Bytes first = lzfseEncode(input);
        // Interleave other work so state left behind would show up.
        (void)lzfseEncode(randomBytes(10000, 1));
        EXPECT_EQ(lzfseEncode(input), first);
    }
}

}  // namespace
}  // namespace wm

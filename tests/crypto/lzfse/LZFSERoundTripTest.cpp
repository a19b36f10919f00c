// The encoder's streams decode back to their input, use the block kinds intended for
// each size and kind of data, and do not depend on anything but the input.
#include <map>
#include <tuple>

#include "LZFSETestData.h"
#include "crypto/lzfse/DeclaredSize.h"

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
            at += (field(at + 24, 8) & 0xFFFFFFFF) + (field(at + 8, 8) >> 20 & 0xFFFFF) +
                  (field(at + 16, 8) >> 40 & 0xFFFFF);
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
        for (const Bytes& input : {randomBytes(n, std::uint32_t(n)), repetitiveBytes(n), textBytes(n, 7), Bytes(n, 0)})
            ASSERT_EQ(lzfseDecode(lzfseEncode(input), n), input);
    }
}

// LZVN below 4,096 bytes, LZFSE from there on, uncompressed blocks where nothing is gained
// (costing only their 8-byte headers, one per 40,000 literals or more); long inputs span blocks.
TEST(LZFSERoundTrip, BlockKindsFollowInputSizeAndContent) {
    // The only block kind besides the end marker, at least how many blocks, and the largest encoded/input ratio.
    const std::tuple<const char*, Bytes, const char*, int, double> cases[] = {
        {"tiny", bytesOf("abcabca"), "bvx-", 1, 3},
        {"small text", textBytes(4095, 1), "bvxn", 1, 1},
        {"small random", randomBytes(4095, 1), "bvx-", 1, 1.01},
        {"8 bytes gain nothing", bytesOf("aaaaaaaa"), "bvx-", 1, 3},
        {"200 repetitive bytes", repetitiveBytes(200), "bvxn", 1, 1},
        {"4096 text", textBytes(4096, 2), "bvx2", 1, 1},
        {"large text", textBytes(3 << 20, 3), "bvx2", 2, 1.0 / 3},
        {"large random", randomBytes(1 << 20, 2), "bvx-", 1, 1 + (8.0 * 27 + 4) / (1 << 20)},
    };
    for (const auto& [name, input, onlyKind, blocks, ratio] : cases) {
        SCOPED_TRACE(name);
        const Bytes encoded = lzfseEncode(input);
        auto kinds = blockKinds(encoded);
        EXPECT_EQ(kinds["bvx$"], 1);
        kinds.erase("bvx$");
        ASSERT_FALSE(kinds.empty());
        for (const auto& [kind, count] : kinds) EXPECT_EQ(kind, onlyKind) << count;
        EXPECT_GE(kinds[onlyKind], blocks);
        EXPECT_LE(double(encoded.size()), ratio * double(input.size()));
        EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
        EXPECT_EQ(declaredSize(encoded), input.size());
    }
    EXPECT_EQ(lzfseEncode({}), bytesOf("bvx$"));
}

TEST(LZFSERoundTrip, LongRunsAndDistancesAtTheWindowEdge) {
    // Random data repeated with a period: within reach of a match up to the largest distance.
    const std::tuple<std::size_t, std::size_t, bool> cases[] = {
        {1, 3 << 20, true}, {3, 100000, true}, {262139, 600000, true}, {262140, 600000, false}};
    for (const auto& [period, size, compresses] : cases) {
        SCOPED_TRACE(period);
        const Bytes input = withPeriod(period, size, 5);
        const Bytes encoded = lzfseEncode(input);
        EXPECT_EQ(encoded.size() < period + size / 50 + 1000, compresses);
        EXPECT_EQ(encoded.size() > input.size(), !compresses);
        EXPECT_EQ(lzfseDecode(encoded, input.size()), input);
    }
}

}  // namespace
}  // namespace wm::lzfse

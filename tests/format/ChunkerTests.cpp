#include <gtest/gtest.h>

#include <array>

#include "format/Chunker.h"
#include "format/RepositoryFormat.h"
#include "support/Thrown.h"

namespace wm {
namespace {

TEST(Chunker, MasksAndGearTable) {
    struct Row {
        std::int64_t minSize, avgSize, maxSize, normalization;
        std::uint64_t maskShort, maskLong;  // 0: only the bit counts are checked
        int shortBits, longBits;
    };
    const std::int64_t min = RepositoryFormat::chunkMinBytes, avg = RepositoryFormat::chunkAvgBytes,
                       max = RepositoryFormat::chunkMaxBytes;
    const Row rows[] = {
        {min, avg, max, 2, 0x0000337777770000ULL, 0x0000333333770000ULL, 22, 18},
        {64, 256, 1024, 2, 0x0000111111330000ULL, 0x0000001111110000ULL, 10, 6},
        {min, avg, max, 0, 0, 0, 20, 20},
        {1, 1000, 1000, 0, 0, 0, 10, 10},  // a non-power-of-two average rounds to the nearest exponent
        {1, 1024, 1024, 60, 0, 0, 63, 1},  // below 2 falls back to one bit; the strict mask caps at 63
    };
    for (const auto& r : rows) {
        const Chunker c(r.minSize, r.avgSize, r.maxSize, r.normalization);
        if (r.maskShort) {
            EXPECT_EQ(c.maskShort(), r.maskShort);
            EXPECT_EQ(c.maskLong(), r.maskLong);
        }
        EXPECT_EQ(__builtin_popcountll(c.maskShort()), r.shortBits) << r.avgSize << " " << r.normalization;
        EXPECT_EQ(__builtin_popcountll(c.maskLong()), r.longBits) << r.avgSize << " " << r.normalization;
    }
    const auto& g = Chunker::gear();
    EXPECT_EQ((std::array{g[0], g[1], g[2], g[255]}),
              (std::array<std::uint64_t, 4>{0x6E789E6AA1B965F4ULL, 0x06C45D188009454FULL, 0xF88BB8A8724C81ECULL,
                                            0xCBDC6D34B7C7534DULL}));
    std::uint64_t seen = 0;
    for (auto bit : Chunker::maskBitOrder()) seen |= std::uint64_t{1} << bit;
    EXPECT_EQ(seen, ~std::uint64_t{0});  // the mask bit order is a permutation
}

TEST(Chunker, WorkedExampleGivesFifteenChunks) {
    const Chunker c(64, 256, 1024, 2);
    Bytes buffer(4096);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(((37 * i) % 256) ^ ((i / 32) % 256));
    EXPECT_EQ(c.nextBoundary(buffer), 265);
    std::vector<std::size_t> lengths;
    std::size_t expectedStart = 0;
    for (const auto& r : c.split(buffer)) {
        EXPECT_EQ(r.lowerBound, expectedStart);
        expectedStart = r.upperBound;
        lengths.push_back(r.size());
    }
    EXPECT_EQ(lengths,
              (std::vector<std::size_t>{265, 294, 257, 254, 261, 255, 262, 190, 420, 331, 274, 322, 264, 294, 153}));
    // A window into the buffer is cut as the same bytes on their own, in the buffer's positions:
    // from the third cut on, the rest of the chunks above.
    const auto whole = c.split(buffer);
    EXPECT_EQ(c.split(buffer, 559), std::vector(whole.begin() + 2, whole.end()));
    for (const std::size_t start : {1u, 1000u, 4000u}) {
        auto own = c.split(ByteView(buffer).subspan(start));
        for (auto& r : own) r = {r.lowerBound + start, r.upperBound + start};
        EXPECT_EQ(c.split(buffer, start), own) << start;
        EXPECT_EQ(c.split(buffer, start).front().lowerBound, start);
    }
}

TEST(Chunker, EmptyShortAndNeverCuttingBuffers) {
    const Chunker c(64, 256, 1024, 2);
    EXPECT_EQ(c.nextBoundary(ByteView{}), 0);
    EXPECT_TRUE(c.split(ByteView{}).empty());
    const Bytes small(64, 0x5A);  // no cut before the minimum, whatever the bytes
    EXPECT_EQ(c.nextBoundary(small), 64);
    EXPECT_EQ(c.split(small), (std::vector<Chunker::Range>{{0, 64}}));
    EXPECT_EQ(c.nextBoundary(ByteView(small).first(10)), 10);
    // A constant byte whose fingerprint never meets either mask is cut at the maximum.
    int found = -1;
    for (int v = 0; v < 256 && found < 0; ++v)
        if (c.nextBoundary(Bytes(1024, static_cast<std::uint8_t>(v))) == 1024) found = v;
    ASSERT_GE(found, 0);
    const Bytes b(3 * 1024 + 100, static_cast<std::uint8_t>(found));
    EXPECT_EQ(c.split(b), (std::vector<Chunker::Range>{{0, 1024}, {1024, 2048}, {2048, 3072}, {3072, 3172}}));
}

TEST(Chunker, UnusableParametersThrow) {
    struct Row {
        std::int64_t minSize, avgSize, maxSize, normalization;
    };
    // min below 1 or negative, avg below min, max below avg, a negative or overflowing strict mask length
    const Row rows[] = {{0, 256, 1024, 2},   {-5, 256, 1024, 2},         {300, 256, 1024, 2},       {64, 2048, 1024, 2},
                        {64, 256, 1024, -9}, {64, 256, 1024, INT64_MIN}, {64, 256, 1024, INT64_MAX}};
    for (const auto& r : rows) {
        const auto e = test::thrown<Chunker::Error>([&] { Chunker(r.minSize, r.avgSize, r.maxSize, r.normalization); });
        EXPECT_EQ(std::pair(e.kind, e.normalization),
                  std::pair(Chunker::Error::Kind::invalidParameters, r.normalization));
    }
}

}  // namespace
}  // namespace wm

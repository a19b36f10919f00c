#include <gtest/gtest.h>

#include <limits>

#include "core/ByteCursor.h"

namespace {

using namespace wm;

TEST(ByteCursor, ReadsLittleEndianIntegers) {
    const Bytes data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
                        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    ByteCursor c(data);
    EXPECT_EQ(c.takeUInt8(), 0x01);
    EXPECT_EQ(c.takeUInt16(), 0x0302);
    EXPECT_EQ(c.takeUInt32(), 0x07060504u);
    EXPECT_EQ(c.takeUInt64(), 0x0f0e0d0c0b0a0908ull);
    EXPECT_EQ(c.takeInt64(), -1);
    EXPECT_EQ(c.remaining(), 0u);
    EXPECT_EQ(c.offset(), data.size());
}

TEST(ByteCursor, TruncationThrowsWithoutMoving) {
    const Bytes data = {1, 2, 3};
    ByteCursor c(data);
    c.takeUInt8();
    try {
        c.takeUInt32();
        FAIL();
    } catch (const ByteCursor::Error& e) {
        EXPECT_EQ(e.kind, ByteCursor::Error::Kind::truncated);
        EXPECT_EQ(e.needed, 4);
        EXPECT_EQ(e.remaining, 2);
    }
    EXPECT_EQ(c.offset(), 1u);
    EXPECT_THROW(c.takeUInt64(), ByteCursor::Error);
    EXPECT_THROW(c.takeBytes(3), ByteCursor::Error);
    EXPECT_EQ(c.takeUInt16(), 0x0302);
    EXPECT_THROW(c.takeUInt8(), ByteCursor::Error);
}

TEST(ByteCursor, LengthPrefixedFields) {
    const Bytes ok = {3, 0, 'a', 'b', 'c', 2, 0, 0, 0, 'x', 'y'};
    ByteCursor c(ok);
    EXPECT_EQ(stringOf(c.takeLengthPrefixed16()), "abc");
    EXPECT_EQ(stringOf(c.takeLengthPrefixed32()), "xy");

    const Bytes lying16 = {0xff, 0xff, 'a'};
    ByteCursor c16(lying16);
    try {
        c16.takeLengthPrefixed16();
        FAIL();
    } catch (const ByteCursor::Error& e) {
        EXPECT_EQ(e.kind, ByteCursor::Error::Kind::truncated);
        EXPECT_EQ(e.needed, 65535);
        EXPECT_EQ(e.remaining, 1);
    }
    const Bytes lying32 = {0xff, 0xff, 0xff, 0xff, 'a'};
    ByteCursor c32(lying32);
    EXPECT_THROW(c32.takeLengthPrefixed32(), ByteCursor::Error);

    const Bytes badText = {4, 0, 'o', 'k', 0xC3, 0x28};
    ByteCursor ct(badText);
    EXPECT_EQ(ct.takeLengthPrefixed16String(), "ok\xEF\xBF\xBD(");
}

TEST(ByteCursor, BoundedCounts) {
    const Bytes data(100, 0);
    ByteCursor c(data);
    EXPECT_EQ(c.boundedCount(10, 10, "entries"), 10);
    EXPECT_EQ(c.boundedCount(0, 45, "entries"), 0);
    EXPECT_EQ(c.boundedCount(2, 45, "entries"), 2);
    struct Refused {
        std::uint64_t count;
        std::size_t minimum;
        std::int64_t claimed;
    };
    const Refused refused[] = {
        {3, 45, 3},
        {11, 10, 11},
        {1, 0, 1},  // no element size: nothing can be judged
        {std::numeric_limits<std::uint64_t>::max(), 1, std::numeric_limits<std::int64_t>::max()},
    };
    for (const Refused& r : refused) {
        try {
            c.boundedCount(r.count, r.minimum, "entries");
            ADD_FAILURE() << r.count;
        } catch (const ByteCursor::Error& e) {
            EXPECT_EQ(e.kind, ByteCursor::Error::Kind::implausibleCount);
            EXPECT_EQ(e.field, "entries");
            EXPECT_EQ(e.claimed, r.claimed);
        }
    }
    const Bytes counted = {0xff, 0xff, 0xff, 0x7f, 1, 2, 3, 4};
    ByteCursor cc(counted);
    EXPECT_THROW(cc.takeBoundedCount(1, "names"), ByteCursor::Error);
    const Bytes fine = {2, 0, 0, 0, 1, 2, 3, 4};
    ByteCursor cf(fine);
    EXPECT_EQ(cf.takeBoundedCount(2, "names"), 2);
}

TEST(ByteCursor, Identifiers) {
    Bytes data(40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    ByteCursor c(data);
    BlobID blob = c.takeBlobID();
    EXPECT_EQ(blob.bytes[0], 0);
    EXPECT_EQ(blob.bytes[31], 31);
    EXPECT_THROW(c.takePackID(), ByteCursor::Error);
    EXPECT_EQ(c.offset(), 32u);
}

}  // namespace

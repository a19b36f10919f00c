#include <gtest/gtest.h>

#include <limits>

#include "core/ByteCursor.h"
#include "support/Thrown.h"

namespace {

using namespace wm;

TEST(ByteCursor, TruncationThrowsWithoutMoving) {
    const Bytes data = {1, 2, 3};
    ByteCursor c(data);
    c.takeUInt8();
    const auto e = test::thrown<ByteCursor::Error>([&] { c.takeUInt32(); });
    EXPECT_EQ(e.kind, ByteCursor::Error::Kind::truncated);
    EXPECT_EQ(e.needed, 4);
    EXPECT_EQ(e.remaining, 2);
    EXPECT_THROW(c.takeBytes(3), ByteCursor::Error);
    EXPECT_EQ(c.takeUInt16(), 0x0302);
}

TEST(ByteCursor, LengthPrefixedFields) {
    const Bytes ok = {3, 0, 'a', 'b', 'c', 2, 0, 0, 0, 'x', 'y', 4, 0, 'o', 'k', 0xC3, 0x28};
    ByteCursor c(ok);
    EXPECT_EQ(stringOf(c.takeLengthPrefixed16()), "abc");
    EXPECT_EQ(stringOf(c.takeLengthPrefixed32()), "xy");
    EXPECT_EQ(c.takeLengthPrefixed16String(), "ok\xEF\xBF\xBD(");
    const Bytes lying16 = {0xff, 0xff, 'a'}, lying32 = {0xff, 0xff, 0xff, 0xff, 'a'};
    EXPECT_THROW(ByteCursor(lying16).takeLengthPrefixed16(), ByteCursor::Error);
    EXPECT_THROW(ByteCursor(lying32).takeLengthPrefixed32(), ByteCursor::Error);
}

TEST(ByteCursor, BoundedCounts) {
    const Bytes data(100, 0);
    ByteCursor c(data);
    EXPECT_EQ(c.boundedCount(10, 10, "entries"), 10);
    EXPECT_EQ(c.boundedCount(0, 45, "entries"), 0);
    // count, minimum element size, the count claimed; no element size (minimum 0): nothing can be judged.
    const std::tuple<std::uint64_t, std::size_t, std::int64_t> refused[] = {
        {3, 45, 3},
        {11, 10, 11},
        {1, 0, 1},
        {std::numeric_limits<std::uint64_t>::max(), 1, std::numeric_limits<std::int64_t>::max()}};
    for (const auto& [count, minimum, claimed] : refused) {
        const auto e = test::thrown<ByteCursor::Error>([&] { c.boundedCount(count, minimum, "entries"); });
        EXPECT_EQ(e.kind, ByteCursor::Error::Kind::implausibleCount);
        EXPECT_EQ(e.claimed, claimed);
    }
    const Bytes counted = {0xff, 0xff, 0xff, 0x7f, 1, 2, 3, 4};
    EXPECT_THROW(ByteCursor(counted).takeBoundedCount(1, "names"), ByteCursor::Error);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "core/ByteCountFormatter.h"
#include "core/Phrasing.h"

namespace {

using namespace wm;

constexpr std::int64_t kSecond = 1000000;

TEST(Phrasing, GroupedAndCount) {
    EXPECT_EQ(Phrasing::grouped(0), "0");
    EXPECT_EQ(Phrasing::grouped(999), "999");
    EXPECT_EQ(Phrasing::grouped(1000), "1,000");
    EXPECT_EQ(Phrasing::grouped(1200), "1,200");
    EXPECT_EQ(Phrasing::grouped(-1234567), "-1,234,567");
    EXPECT_EQ(Phrasing::grouped(std::numeric_limits<std::int64_t>::max()), "9,223,372,036,854,775,807");
    EXPECT_EQ(Phrasing::grouped(1234567, "de_DE"), "1.234.567");

    EXPECT_EQ(Phrasing::count(1, "file"), "1 file");
    EXPECT_EQ(Phrasing::count(0, "file"), "0 files");
    EXPECT_EQ(Phrasing::count(1234, "file"), "1,234 files");
    EXPECT_EQ(Phrasing::count(-1, "day"), "-1 days");
    EXPECT_EQ(Phrasing::count(2, "copy", std::string("copies")), "2 copies");
    EXPECT_EQ(Phrasing::count(1, "copy", std::string("copies")), "1 copy");
    EXPECT_EQ(Phrasing::count(std::uint64_t{1}, "folder"), "1 folder");
    EXPECT_EQ(Phrasing::count(std::numeric_limits<std::uint64_t>::max(), "byte"), "9,223,372,036,854,775,807 bytes");
    EXPECT_EQ(Phrasing::count(std::uint32_t{3000}, "piece"), "3,000 pieces");
}

TEST(Phrasing, List) {
    EXPECT_EQ(Phrasing::list({}), "");
    EXPECT_EQ(Phrasing::list({"Photos"}), "Photos");
    EXPECT_EQ(Phrasing::list({"Photos", "Music"}), "Photos and Music");
    EXPECT_EQ(Phrasing::list({"a", "b", "c"}), "a, b and c");
    EXPECT_EQ(Phrasing::list({"a", "b", "c", "d"}), "a, b, c and d");
    EXPECT_EQ(Phrasing::list({"", ""}), " and ");
}

TEST(Phrasing, StalenessAndRelativeTimeBoundaries) {
    setenv("TZ", "UTC", 1);
    tzset();
    const Date now{1796590835000000};  // 2026-12-06T21:00:35Z
    struct Case {
        bool relative;  // relativeTime, else staleness
        std::int64_t ageSeconds;
        const char* expected;
    };
    const Case cases[] = {
        {false, -86400 * 400, "less than an hour ago"},  // in the future
        {false, 0, "less than an hour ago"},
        {false, 3599, "less than an hour ago"},
        {false, 3600, "1 hour ago"},
        {false, 7199, "1 hour ago"},
        {false, 7200, "2 hours ago"},
        {false, 86399, "23 hours ago"},
        {false, 86400, "1 day ago"},
        {false, 172799, "1 day ago"},
        {false, 172800, "2 days ago"},
        {false, 89 * 86400 + 86399, "89 days ago"},
        {false, 90 * 86400, "3 months ago"},
        {false, 119 * 86400, "3 months ago"},
        {false, 120 * 86400, "4 months ago"},
        {false, 30000LL * 86400, "1,000 months ago"},
        {true, -3600, "just now"},
        {true, 0, "just now"},
        {true, 59, "just now"},
        {true, 60, "1 minute ago"},
        {true, 125, "2 minutes ago"},
        {true, 2 * 3600, "2 hours ago"},
        {true, 3 * 86400, "3 days ago"},
        {true, 7 * 86400, "1 week ago"},
        {true, 13 * 86400, "1 week ago"},
        {true, 14 * 86400, "2 weeks ago"},
        {true, 40 * 86400, "1 month ago"},
        {true, 800 * 86400, "2 years ago"},
    };
    for (const Case& c : cases) {
        const Date then{now.microseconds - c.ageSeconds * kSecond};
        EXPECT_EQ(c.relative ? Phrasing::relativeTime(then, now) : Phrasing::staleness(then, now), c.expected)
            << c.ageSeconds;
    }
    // A microsecond short of the boundary.
    EXPECT_EQ(Phrasing::staleness(Date{now.microseconds - 3600 * kSecond + 1}, now), "less than an hour ago");
    EXPECT_EQ(Phrasing::relativeTime(Date{now.microseconds - 59999999}, now), "just now");
    EXPECT_EQ(Phrasing::staleness(Date{std::numeric_limits<std::int64_t>::min()}, Date{std::numeric_limits<std::int64_t>::max()}),
              Phrasing::grouped(std::numeric_limits<std::int64_t>::max() / (86400LL * kSecond) / 30) + " months ago");
    EXPECT_EQ(Phrasing::relativeTime(Date{now.microseconds - 3 * 86400 * kSecond}, now, "de_DE"), "vor 3 Tagen");
}

TEST(ByteCount, FileStyleTable) {
    struct Case {
        std::uint64_t bytes;
        const char* expected;
    };
    const Case cases[] = {
        {1, "1 byte"},
        {2, "2 bytes"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1499, "1 KB"},
        {1500, "2 KB"},
        {999499, "999 KB"},
        {999500, "1 MB"},  // 999.5 KB rounds to 1,000 KB: carried
        {1000000, "1 MB"},
        {1200000, "1.2 MB"},
        {1234567, "1.2 MB"},
        {1250000, "1.3 MB"},
        {12000000, "12 MB"},
        {12340000, "12.3 MB"},
        {999949999, "999.9 MB"},
        {999950000, "1 GB"},
        {1230000000, "1.23 GB"},
        {1234567890, "1.23 GB"},
        {1005000000, "1.01 GB"},
        {1000000000000, "1 TB"},
        {999995000000000, "1 PB"},
        {1500000000000000000, "1.5 EB"},
        {9223372036854775807ULL, "9.22 EB"},
        {18446744073709551615ULL, "9.22 EB"},  // clamps, never wraps
    };
    for (const Case& c : cases) EXPECT_EQ(ByteCountFormatter::string(c.bytes), c.expected) << c.bytes;
    EXPECT_EQ(ByteCountFormatter::string(1234567, "de_DE"), "1,2 MB");
    EXPECT_EQ(Phrasing::bytes(0), "nothing");
    EXPECT_EQ(Phrasing::bytes(1234567890), "1.23 GB");
    EXPECT_EQ(Phrasing::bytes(std::numeric_limits<std::uint64_t>::max()), "9.22 EB");
}

}  // namespace

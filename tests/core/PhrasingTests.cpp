#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "core/BoundedList.h"
#include "core/ByteCountFormatter.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"
#include "support/DataTable.h"
#include "support/ScopedEnvironment.h"

namespace {

using namespace wm;

constexpr std::int64_t kSecond = 1000000;

TEST(Phrasing, GroupedCountAndList) {
    EXPECT_EQ(Phrasing::grouped(-1234567), "-1,234,567");
    EXPECT_EQ(Phrasing::grouped(1234567, "de_DE"), "1.234.567");
    EXPECT_EQ(Phrasing::count(1, "file"), "1 file");
    EXPECT_EQ(Phrasing::count(0, "file"), "0 files");
    EXPECT_EQ(Phrasing::count(2, "copy", std::string("copies")), "2 copies");
    EXPECT_EQ(Phrasing::count(std::numeric_limits<std::uint64_t>::max(), "byte"), "9,223,372,036,854,775,807 bytes");
    EXPECT_EQ(Phrasing::list({"Photos", "Music"}), "Photos and Music");
    EXPECT_EQ(Phrasing::list({"a", "b", "c", "d"}), "a, b, c and d");
}

// A bounded list shows its first items whole while its text, the count of the others
// included, stays within its bytes; not one fits, and only the count is shown.
TEST(Phrasing, BoundedListsShowWholeItemsAndCountTheRest) {
    // Bytes, items, the text, the text as a phrase, the text within 15 bytes.
    const std::vector<std::tuple<std::size_t, std::vector<std::string>, std::string, std::string, std::string>> rows = {
        {20, {}, "", "", ""},
        {20, {"aa", "bb", "cc"}, "aa, bb, cc", "aa, bb and cc", "aa, bb, cc"},
        // Kept while within 20 ("aaaa, bbbb, cccc"), shown with the count of the others.
        {20, {"aaaa", "bbbb", "cccc", "dddd", "eeee"}, "aaaa, and 4 more", "aaaa, and 4 more", "5 not shown"},
        // The fourth item fits alone but not beside the count.
        {22, {"aaaa", "bbbb", "cccc", "dddd", "e"}, "aaaa, bbbb, and 3 more", "aaaa, bbbb, and 3 more", "5 not shown"},
        {10, {"0123456789ab", "c"}, "2 not shown", "2 not shown", "2 not shown"},
        // Whole, but not as a phrase ("aaaa, bbbb and cccc" is 19 bytes).
        {16, {"aaaa", "bbbb", "cccc"}, "aaaa, bbbb, cccc", "aaaa, bbbb, cccc", "3 not shown"},
    };
    for (const auto& [bytes, items, text, phrase, within] : rows) {
        BoundedList list(bytes);
        for (const auto& item : items) list.add(item);
        EXPECT_EQ(list.count(), items.size());
        EXPECT_EQ(std::tuple(list.text(), list.phrase(), list.text(15)), std::tuple(text, phrase, within)) << text;
        EXPECT_EQ(list.leastBytes(), std::min(list.text().size(), (items.empty() ? std::string() : within).size()));
    }
    // Not one item fits whole: the first is shown cut at a character boundary, with the count of
    // the others; only where not one character of it fits beside the count is every item counted.
    const std::string e = "\xE2\x80\xA6", two = "\xC3\xA9";  // "…", "é"
    const std::vector<std::tuple<std::size_t, std::vector<std::string>, std::size_t, std::string>> cut = {
        {20, {"0123456789abcdefghijkl", "x"}, 20, "01234" + e + ", and 1 more"},
        {20, {"0123456789abcdefghijkl", "x"}, 15, "2 not shown"},
        {20, {"0123456789abcdefghijkl"}, 20, "0123456789abcdefg" + e},
        {20, {"0123456789abcdefghijkl"}, 15, "0123456789ab" + e},
        {20,
         {"a" + two + two + two + two + two + two + two + two + two + two},
         20,
         "a" + two + two + two + two + two + two + two + two + e},
        {20, {"abcdefghijkl", "mnopqrstuvwx"}, 17, "ab" + e + ", and 1 more"},  // kept whole, shown cut
    };
    for (const auto& [bytes, items, within, text] : cut) {
        BoundedList list(bytes);
        for (const auto& item : items) list.add(item);
        EXPECT_EQ(list.text(within), text);
        EXPECT_LE(list.text(within).size(), within);
        EXPECT_EQ(Unicode::decodeUTF8Repairing(list.text(within)), list.text(within));
    }
}

// Staleness and relative time at their boundaries, and byte counts, from tests/data/core.
TEST(Phrasing, StalenessRelativeTimeAndByteCountTables) {
    const test::ScopedEnvironment zone("TZ", "UTC");
    const Date now{1796590835000000};  // 2026-12-06T21:00:35Z
    for (const auto& row : test::dataTable("core/phrasing.tsv", 3)) {
        if (row.at(0) == "bytes") {
            EXPECT_EQ(ByteCountFormatter::string(std::stoull(row.at(1))), row.at(2)) << row[1];
            continue;
        }
        const Date then{now.microseconds - std::stoll(row.at(1)) * kSecond};
        EXPECT_EQ(row[0] == "relative" ? Phrasing::relativeTime(then, now) : Phrasing::staleness(then, now), row.at(2))
            << row[0] << " " << row[1];
    }
    // A microsecond short of the boundary.
    EXPECT_EQ(Phrasing::staleness(Date{now.microseconds - 3600 * kSecond + 1}, now), "less than an hour ago");
    EXPECT_EQ(Phrasing::relativeTime(Date{now.microseconds - 59999999}, now), "just now");
    EXPECT_EQ(Phrasing::staleness(Date{std::numeric_limits<std::int64_t>::min()},
                                  Date{std::numeric_limits<std::int64_t>::max()}),
              Phrasing::grouped(std::numeric_limits<std::int64_t>::max() / (86400LL * kSecond) / 30) + " months ago");
    EXPECT_EQ(Phrasing::relativeTime(Date{now.microseconds - 3 * 86400 * kSecond}, now, "de_DE"), "vor 3 Tagen");
}

TEST(ByteCount, FileStyleInOtherLocalesAndAsPhrasing) {
    EXPECT_EQ(ByteCountFormatter::string(1234567, "de_DE"), "1,2 MB");
    EXPECT_EQ(Phrasing::bytes(0), "nothing");
    EXPECT_EQ(Phrasing::bytes(std::numeric_limits<std::uint64_t>::max()), "9.22 EB");
}

}  // namespace

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "format/DriveReadMe.h"
#include "format/RecoveryGuide.h"
#include "support/DataTable.h"

namespace wm {
namespace {

Date utc(int y, unsigned m, unsigned d, int hour, int minute) {
    namespace c = std::chrono;
    const c::sys_days date = c::year_month_day(c::year(y), c::month(m), c::day(d));
    const auto t = date + c::hours(hour) + c::minutes(minute);
    return Date::fromMicroseconds(c::duration_cast<c::microseconds>(t.time_since_epoch()).count());
}

TEST(DriveReadMe, WrapKeepsLinesWithinSeventyCharacters) {
    using DriveReadMe::wrap;
    EXPECT_EQ(wrap("", 0, 0), "");
    EXPECT_EQ(wrap("  \n\t ", 3, 0), "");
    EXPECT_EQ(wrap("  one   two\nthree ", 0, 0), "one two three");

    // Exactly 70 characters stay whole; one more moves the word down.
    const std::string seventy = std::string(64, 'a') + " bbbbb";
    ASSERT_EQ(seventy.size(), 70u);
    EXPECT_EQ(wrap(seventy, 0, 0), seventy);
    EXPECT_EQ(wrap(seventy + "c", 0, 0), std::string(64, 'a') + "\nbbbbbc");

    // A word longer than a line stands alone; the words around it wrap normally.
    const std::string longWord(80, 'w');
    EXPECT_EQ(wrap("before " + longWord + " after", 0, 0), "before\n" + longWord + "\nafter");

    // A hanging indent under a word longer than the line (ordinary indents are in the whole text below).
    EXPECT_EQ(wrap(std::string(20, ' ') + "- " + std::string(300, 'y') + " word word", 0, 2),
              "-\n  " + std::string(300, 'y') + "\n  word word");

    // Width counts characters a person sees, not bytes.
    std::string accented;
    for (int i = 0; i < 35; ++i) accented += "e\xCC\x81";  // e + combining acute
    const std::string line = accented + " " + std::string(34, 'z');
    EXPECT_EQ(wrap(line, 0, 0), line);
}

TEST(DriveReadMe, DateStampIsInUTC) {
    EXPECT_EQ(DriveReadMe::stamp(utc(2026, 12, 5, 12, 0)), "5 December 2026");
    // 23:30 on 31 December at UTC-2 is 01:30 on 1 January in UTC.
    EXPECT_EQ(DriveReadMe::stamp(utc(2027, 1, 1, 1, 30)), "1 January 2027");
    EXPECT_EQ(DriveReadMe::stamp(utc(1969, 7, 20, 20, 17)), "20 July 1969");
}

// The whole read-me for a fixed day and a version too long to wrap: every heading, step,
// indent and line width as a person reads it on the drive.
TEST(DriveReadMe, TextAsWritten) {
    const std::string text = DriveReadMe::text(utc(2026, 12, 5, 9, 0), std::string(120, 'v'));
    std::ifstream in(test::dataFile("format/drive-readme.txt"));
    ASSERT_TRUE(in);
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, expected);
}

TEST(DriveReadMe, FormatDocumentIsBuiltIn) {
    const auto doc = DriveReadMe::formatDocument();
    ASSERT_TRUE(doc);
    const std::string text = stringOf(*doc);
    EXPECT_EQ(text.rfind("# ", 0), 0u);
    EXPECT_NE(text.find("WMPKEND"), std::string::npos);
}

}  // namespace
}  // namespace wm

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "format/DriveReadMe.h"
#include "support/DataTable.h"

namespace wm {
namespace {

Date utc(int y, unsigned m, unsigned d, int hour, int minute) {
    namespace c = std::chrono;
    const c::sys_days date = c::year_month_day(c::year(y), c::month(m), c::day(d));
    const auto t = date + c::hours(hour) + c::minutes(minute);
    return Date::fromMicroseconds(c::duration_cast<c::microseconds>(t.time_since_epoch()).count());
}

TEST(DriveReadMe, DateStampIsInUTC) {
    EXPECT_EQ(DriveReadMe::stamp(utc(2026, 12, 5, 12, 0)), "5 December 2026");
    // 23:30 on 31 December at UTC-2 is 01:30 on 1 January in UTC.
    EXPECT_EQ(DriveReadMe::stamp(utc(2027, 1, 1, 1, 30)), "1 January 2027");
    EXPECT_EQ(DriveReadMe::stamp(utc(1969, 7, 20, 20, 17)), "20 July 1969");
}

// The whole read-me for a fixed day and a version too long to wrap: every heading, step,
// indent and line width as a person reads it on the drive. The text is all the wrapping ever
// gets, so it is the wrapping's test.
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

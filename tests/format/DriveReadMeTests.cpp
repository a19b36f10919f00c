#include <gtest/gtest.h>

#include "core/RepositoryJSON.h"
#include "format/DriveReadMe.h"
#include "format/RecoveryGuide.h"
#include "support/DataTable.h"

namespace wm {
namespace {

Date utc(const char* text) { return *RepositoryJSON::parseDate(text); }

TEST(DriveReadMe, DateStampIsInUTC) {
    EXPECT_EQ(DriveReadMe::stamp(utc("2026-12-05T12:00:00.000Z")), "5 December 2026");
    // 23:30 on 31 December at UTC-2 is 01:30 on 1 January in UTC.
    EXPECT_EQ(DriveReadMe::stamp(utc("2027-01-01T01:30:00.000Z")), "1 January 2027");
    EXPECT_EQ(DriveReadMe::stamp(utc("1969-07-20T20:17:00.000Z")), "20 July 1969");
}

// The whole read-me for a fixed day and a version too long to wrap: every heading, step,
// indent and line width as a person reads it on the drive. The text is all the wrapping ever
// gets, so it is the wrapping's test.
TEST(DriveReadMe, TextAsWrittenAndTheFormatDocumentBuiltIn) {
    EXPECT_EQ(DriveReadMe::text(utc("2026-12-05T09:00:00.000Z"), std::string(120, 'v')),
              test::dataText("format/drive-readme.txt"));
    const auto doc = DriveReadMe::formatDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(stringOf(*doc).rfind("# ", 0), 0u);
    EXPECT_NE(stringOf(*doc).find("WMPKEND"), std::string::npos);
}

// The part of the recovery guide for readers without the application, text by text.
TEST(RecoveryGuide, WithoutTheAppTexts) {
    namespace W = RecoveryGuide::WithoutTheApp;
    std::map<std::string, std::optional<std::string>> texts = {{"title", W::title()}};
    for (std::size_t i = 0; i < W::opening().size(); ++i)
        texts[i ? "opening " + std::to_string(i + 1) : "opening"] = W::opening()[i];
    for (std::size_t i = 0; i < W::commands().size(); ++i)
        texts["command " + std::to_string(i + 1)] = W::commands()[i].invocation + ": " + W::commands()[i].what;
    for (std::size_t i = 0; i < W::closing().size(); ++i) texts["closing " + std::to_string(i + 1)] = W::closing()[i];
    test::expectTexts("format/recovery-guide.tsv", texts);
}

}  // namespace
}  // namespace wm

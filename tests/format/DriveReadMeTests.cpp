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

// A file at either path is written over only when it is the system's own: today's texts open
// with the lines that say so, and a person's file, however close, does not.
TEST(DriveReadMe, OwnFilesAreTheEmptyOnesAndThoseOpeningWithTheFirstLine) {
    const auto own = [](std::string_view line, const std::string& text) {
        const std::size_t opening = std::min<std::size_t>(text.size(), DriveReadMe::openingBytes);
        return DriveReadMe::isOwnFile(line, std::ssize(text), viewOf(std::string_view(text).substr(0, opening)));
    };
    const std::string readMe = DriveReadMe::text(utc("2026-12-05T09:00:00.000Z"), "1.0");
    const auto doc = DriveReadMe::formatDocument();
    ASSERT_TRUE(doc);
    EXPECT_TRUE(own(DriveReadMe::firstLine, readMe));
    EXPECT_TRUE(own(DriveReadMe::formatFirstLine, stringOf(*doc)));
    for (const char* text : {"", "WENDLE MARSH BACKUP", "WENDLE MARSH BACKUP\r\nmine"})
        EXPECT_TRUE(own(DriveReadMe::firstLine, text)) << text;
    for (const char* text : {"mine", "WENDLE MARSH BACKUPS\n", " WENDLE MARSH BACKUP\n", "WENDLE MARSH BACK",
                             "WENDLE MARSH BACKUP \n", "wendle marsh backup\n"})
        EXPECT_FALSE(own(DriveReadMe::firstLine, text)) << text;
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

#include "app/WindowText.h"

#include <gtest/gtest.h>

namespace wm {
namespace {

RestoreAppModel::Backup backupOf(std::uint64_t files, std::uint64_t bytes, std::vector<std::string> folders) {
    RestoreAppModel::Backup backup;
    backup.files = files;
    backup.bytes = bytes;
    backup.folders = std::move(folders);
    return backup;
}

TEST(WindowTextTest, TheDetailLineNamesTheLastComponentOfEveryFolder) {
    EXPECT_EQ(WindowText::detailLine(backupOf(48215, 0, {"/Users/you/Documents", "/Users/you/Pictures/"})),
              "48,215 files, nothing from Documents, Pictures");
    EXPECT_EQ(WindowText::detailLine(backupOf(1, 0, {})), "1 file, nothing");
    EXPECT_EQ(WindowText::detailLine(backupOf(0, 0, {})), "0 files, nothing");
    EXPECT_EQ(WindowText::accessibilityValue(backupOf(2, 0, {"/a/b"})), "2 files, nothing");
    const std::string withBytes = WindowText::detailLine(backupOf(3, 214000000000ULL, {"/x/Docs"}));
    EXPECT_EQ(withBytes.rfind("3 files, ", 0), 0u) << withBytes;
    EXPECT_NE(withBytes.find("GB from Docs"), std::string::npos) << withBytes;
}

TEST(WindowTextTest, TheDateLineCarriesDateAndTime) {
    // 2023-11-14 22:13:20 UTC
    const std::string line = WindowText::dateLine(Date::fromSeconds(1700000000));
    EXPECT_NE(line.find("2023"), std::string::npos) << line;
    EXPECT_NE(line.find(":"), std::string::npos) << line;
}

TEST(WindowTextTest, AListShowsAtMostEightLines) {
    auto linesOf = [](int n) {
        std::vector<std::string> lines;
        for (int i = 0; i < n; ++i) lines.push_back("line " + std::to_string(i));
        return lines;
    };
    struct Case {
        int count;
        std::size_t shown;
        std::string more;
    };
    for (const Case& c : {Case{1, 1, ""}, Case{8, 8, ""}, Case{9, 8, "and 1 more"}, Case{1234, 8, "and 1226 more"}}) {
        const auto d = WindowText::detail("Could not be put back", linesOf(c.count));
        EXPECT_EQ(d.heading, "Could not be put back (" + std::to_string(c.count) + ")");
        EXPECT_EQ(d.lines.size(), c.shown);
        EXPECT_EQ(d.lines.front(), "line 0");
        EXPECT_EQ(d.more, c.more);
    }
}

TEST(WindowTextTest, TheReportWordsTheResult) {
    RestoreCoordinator::Result result;
    result.filesRestored = 1;
    result.directoriesRestored = 3902;
    EXPECT_EQ(WindowText::headline(result), "Your files are back");
    EXPECT_EQ(WindowText::summary(result, "/home/you/Restored"), "1 file and 3,902 folders in /home/you/Restored");
    EXPECT_EQ(WindowText::unpreservedLine(result), "");

    result.failures.push_back({"a/b", "that name is not safe to write to disk"});
    result.skipped.push_back({"c", "this was a socket and was not recreated"});
    EXPECT_EQ(WindowText::headline(result), "Some of your files are back");
    EXPECT_EQ(WindowText::failureLines(result),
              std::vector<std::string>{"a/b: that name is not safe to write to disk"});
    EXPECT_EQ(WindowText::skippedLines(result), std::vector<std::string>{"c: this was a socket and was not recreated"});
}

TEST(WindowTextTest, UnpreservedAttributesAreDistinctAndSorted) {
    RestoreCoordinator::Result result;
    for (const char* attribute : {"ownership", "mode", "acl", "ownership", "extendedAttributes", "mode"}) {
        result.unpreserved.push_back({"some/path", attribute, "reason"});
    }
    EXPECT_EQ(WindowText::unpreservedLine(result),
              "Restored, but these could not be put back exactly: acl, extendedAttributes, mode, ownership");
}

}  // namespace
}  // namespace wm

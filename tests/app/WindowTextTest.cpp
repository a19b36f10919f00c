#include "app/WindowText.h"
#include "core/TextTrimming.h"

#include <gtest/gtest.h>

#include "support/DataTable.h"

namespace wm {
namespace {

TEST(WindowTextTest, TheDetailLineNamesTheLastComponentOfEveryFolder) {
    auto detail = [](std::uint64_t files, std::uint64_t bytes, std::vector<std::string> folders) {
        RestoreAppModel::Backup backup;
        std::tie(backup.files, backup.bytes, backup.folders) = std::tuple(files, bytes, std::move(folders));
        return WindowText::detailLine(backup);
    };
    EXPECT_EQ(detail(48215, 0, {"/Users/you/Documents", "/Users/you/Pictures/"}),
              "48,215 files, nothing from Documents, Pictures");
    EXPECT_EQ(detail(1, 0, {}), "1 file, nothing");
    const std::string withBytes = detail(3, 214000000000ULL, {"/x/Docs"});
    EXPECT_TRUE(withBytes.starts_with("3 files, ") && withBytes.ends_with("GB from Docs")) << withBytes;
    // A record naming 1,000 folders: the first whole names within the shown-text bound, then
    // how many more. "1 file, nothing from " is 21 bytes, each name 7 and its separator 2, so
    // 451 names and ", and 549 more" take 4,092 bytes, and one more name would not fit.
    std::vector<std::string> many;
    for (int i = 0; i < 1000; ++i) many.push_back("/home/f" + std::to_string(100000 + i));
    const std::string bounded = detail(1, 0, many);
    EXPECT_EQ(bounded.size(), 4092u);
    EXPECT_TRUE(bounded.ends_with(", f100450, and 549 more")) << bounded.substr(bounded.size() - 40);
}

TEST(TextTrimmingTest, FieldsTrimSpaceAndSecretFilesLineBreaksToo) {
    for (const auto& row : test::dataTable("app/trimming.tsv", 3)) {
        const std::string text = test::unescaped(row[0]);
        EXPECT_EQ(TextTrimming::horizontal(text), test::unescaped(row[1])) << row[0];
        EXPECT_EQ(TextTrimming::whitespaceAndNewlines(text), test::unescaped(row[2])) << row[0];
    }
}

}  // namespace
}  // namespace wm

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

#include "app/WindowText.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace wm

#include "app/WindowText.h"

#include <gtest/gtest.h>

namespace wm {
namespace {

TEST(WindowTextTest, TheDetailLineNamesTheLastComponentOfEveryFolder) {
    auto detail = [](std::uint64_t files, std::uint64_t bytes, std::vector<std::string> folders) {
        RestoreAppModel::Backup backup;
        backup.files = files;
        backup.bytes = bytes;
        backup.folders = std::move(folders);
        return WindowText::detailLine(backup);
    };
    EXPECT_EQ(detail(48215, 0, {"/Users/you/Documents", "/Users/you/Pictures/"}),
              "48,215 files, nothing from Documents, Pictures");
    EXPECT_EQ(detail(1, 0, {}), "1 file, nothing");
    const std::string withBytes = detail(3, 214000000000ULL, {"/x/Docs"});
    EXPECT_EQ(withBytes.rfind("3 files, ", 0), 0u) << withBytes;
    EXPECT_NE(withBytes.find("GB from Docs"), std::string::npos) << withBytes;
    // 2023-11-14 22:13:20 UTC
    const std::string date = WindowText::dateLine(Date::fromSeconds(1700000000));
    EXPECT_NE(date.find("2023"), std::string::npos) << date;
    EXPECT_NE(date.find(":"), std::string::npos) << date;
}

}  // namespace
}  // namespace wm

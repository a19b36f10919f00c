#include "app/WindowText.h"
#include "core/TextTrimming.h"

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

// The fields trim horizontal space only; a secret file loses its line breaks too. Broken
// bytes are never trimmed.
TEST(TextTrimmingTest, FieldsTrimSpaceAndSecretFilesLineBreaksToo) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        // text, horizontal, full
        {" \tsecret\t ", "secret", "secret"},
        {"\u00A0secret\u3000", "secret", "secret"},
        {"\u2003a b\u202F", "a b", "a b"},
        {"secret\r\n", "secret\r\n", "secret"},
        {"\n\t secret words \u2028\u0085\n", "\n\t secret words \u2028\u0085\n", "secret words"},
        {"\u00A0\v\fsecret", "\v\fsecret", "secret"},
        {"\xFF secret \xFF", "\xFF secret \xFF", "\xFF secret \xFF"},
    };
    for (const auto& [in, horizontal, full] : cases) {
        EXPECT_EQ(TextTrimming::horizontal(in), horizontal) << in;
        EXPECT_EQ(TextTrimming::whitespaceAndNewlines(in), full) << in;
    }
}

}  // namespace
}  // namespace wm

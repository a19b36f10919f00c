#include "core/TextTrimming.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppPaths.h"

namespace wm {
namespace {

// The fields trim horizontal space only; a secret file loses its line breaks too.
TEST(TextTrimmingTest, FieldsTrimSpaceAndSecretFilesLineBreaksToo) {
    struct Case {
        std::string in, horizontal, full;
    };
    const Case cases[] = {
        {"   ", "", ""},
        {" \tsecret\t ", "secret", "secret"},
        {"\u00A0secret\u3000", "secret", "secret"},  // no-break and ideographic spaces
        {"\u2003a b\u202F", "a b", "a b"},           // em space, narrow no-break space
        {"secret\r\n", "secret\r\n", "secret"},
        {"\n\t secret words \u2028\u0085\n", "\n\t secret words \u2028\u0085\n", "secret words"},
        {"\u00A0\v\fsecret", "\v\fsecret", "secret"},
        {"caf\u00E9 ", "caf\u00E9", "caf\u00E9"},
        {"\xFF secret \xFF", "\xFF secret \xFF", "\xFF secret \xFF"},  // broken bytes are never trimmed
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextTrimming::horizontal(c.in), c.horizontal) << c.in;
        EXPECT_EQ(TextTrimming::whitespaceAndNewlines(c.in), c.full) << c.in;
    }
}

TEST(AppPathsTest, PathsAreMadeAbsoluteAndTheirLastComponentNamed) {
    const std::string here = std::filesystem::current_path().string();
    const std::pair<std::string, std::string> standardised[] = {
        {"/media/backup/", "/media/backup"},
        {"/media/./backup/../drive//x", "/media/drive/x"},
        {"/", "/"},
        {"relative/folder", here + "/relative/folder"},
    };
    for (const auto& [in, out] : standardised) EXPECT_EQ(AppPaths::standardised(in), out) << in;
    const std::pair<std::string, std::string> last[] = {
        {"/Users/you/Documents/", "Documents"}, {"Documents", "Documents"}, {"/", "/"}, {"", ""}};
    for (const auto& [in, out] : last) EXPECT_EQ(AppPaths::lastComponent(in), out) << in;
}

}  // namespace
}  // namespace wm

#include "app/TextTrimming.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <random>

#include "app/AppPaths.h"

namespace wm {
namespace {

TEST(TextTrimmingTest, HorizontalTrimTakesTabsAndSpaceSeparatorsButNotLineBreaks) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"   ", ""},
        {" \tsecret\t ", "secret"},
        {"\u00A0secret\u3000", "secret"},         // no-break and ideographic spaces
        {"\u2003a b\u202F", "a b"},               // em space, narrow no-break space
        {"secret\n", "secret\n"},                 // a line break stays
        {"\nsecret", "\nsecret"},
        {" two words ", "two words"},
        {"caf\u00E9 ", "caf\u00E9"},
        {std::string("\xFF secret \xFF"), std::string("\xFF secret \xFF")},  // broken bytes are never trimmed
    };
    for (const auto& c : cases) EXPECT_EQ(TextTrimming::horizontal(c.in), c.out) << c.in;
}

TEST(TextTrimmingTest, TheSecretFileTrimTakesLineBreaksToo) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"secret\n", "secret"},
        {"secret\r\n", "secret"},
        {"\n\t secret words \u2028\u0085\n", "secret words"},
        {"\u00A0\v\fsecret", "secret"},
        {"\n\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TextTrimming::whitespaceAndNewlines(c.in), c.out) << c.in;
}

TEST(AppPathsTest, PathsAreMadeAbsoluteAndTheirDotsResolved) {
    const std::string here = std::filesystem::current_path().string();
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"/media/backup", "/media/backup"},
        {"/media/backup/", "/media/backup"},
        {"/media/./backup/../drive//x", "/media/drive/x"},
        {"/", "/"},
        {"relative/folder", here + "/relative/folder"},
    };
    for (const auto& c : cases) EXPECT_EQ(AppPaths::standardised(c.in), c.out) << c.in;
}

TEST(AppPathsTest, TheLastComponentOfAFolder) {
    EXPECT_EQ(AppPaths::lastComponent("/Users/you/Documents"), "Documents");
    EXPECT_EQ(AppPaths::lastComponent("/Users/you/Documents/"), "Documents");
    EXPECT_EQ(AppPaths::lastComponent("Documents"), "Documents");
    EXPECT_EQ(AppPaths::lastComponent("/"), "/");
    EXPECT_EQ(AppPaths::lastComponent(""), "");
}

TEST(AppPathsTest, LinksAreResolvedAsFarAsThePathExists) {
    namespace fs = std::filesystem;
    const fs::path base = fs::path(::testing::TempDir()) / "wm-resolve";
    fs::remove_all(base);
    fs::create_directories(base / "real" / "inner");
    fs::create_directory_symlink(base / "real", base / "link");
    const std::string real = fs::canonical(base / "real").string();
    EXPECT_EQ(AppPaths::resolvedAsFarAsItExists((base / "link" / "inner").string()), real + "/inner");
    EXPECT_EQ(AppPaths::resolvedAsFarAsItExists((base / "link" / "new" / "deeper").string()), real + "/new/deeper");
    fs::remove_all(base);
}

}  // namespace
}  // namespace wm

namespace wm {
namespace {

// Secret files hold outside bytes: whatever they hold, a trim gives a piece of the input
// from its middle, never reads past it, and trimming again changes nothing.
TEST(TextTrimmingTest, RandomBytesTrimToAStableMiddlePiece) {
    std::mt19937 random(20240611);
    const std::string pieces[] = {" ", "\t", "\n", "\r", "\u00A0", "\u3000", "\u2028", "a", "\u00E9", "\xE2\x80",
                                  "\xFF", "\xC3", "x y"};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            if (random() % 4 == 0) {
                text += static_cast<char>(random() % 256);
            } else {
                text += pieces[random() % std::size(pieces)];
            }
        }
        for (auto trim : {&TextTrimming::horizontal, &TextTrimming::whitespaceAndNewlines}) {
            const std::string once = trim(text);
            ASSERT_NE(text.find(once), std::string::npos);
            ASSERT_EQ(trim(once), once);
        }
    }
}

}  // namespace
}  // namespace wm

#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include "support/TempFolder.h"

namespace wm {
namespace {

using Kind = CommandLine::Mode::Kind;

TEST(CommandLineTest, TheModeIsChosenInItsOrder) {
    struct Case {
        std::vector<std::string> arguments;
        Kind kind;
    };
    const Case cases[] = {
        {{"wmrestore"}, Kind::window},
        {{"wmrestore", "--headless-restore", "a", "b", "c", "--self-check"}, Kind::selfCheck},
        {{"wmrestore", "--screenshots", "x", "--self-check"}, Kind::selfCheck},
        {{"--self-check"}, Kind::selfCheck},  // the program path counts as an argument too
        {{"wmrestore", "--screenshots", "x", "--headless-restore", "a", "b", "c"}, Kind::headlessRestore},
        {{"wmrestore", "--headless-restore", "a", "b"}, Kind::window},
        {{"wmrestore", "--headless-restore", "a", "b", "--screenshots"}, Kind::headlessRestore},
        {{"w", "--headless-restore", "a", "b", "--headless-restore", "x", "y", "z"}, Kind::headlessRestore},
        {{"wmrestore", "--screenshots", "shots", "--headless-restore", "a", "b"}, Kind::screenshots},
        {{"wmrestore", "--screenshots"}, Kind::window},
        {{"wmrestore", "--Self-check"}, Kind::window},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CommandLine::choose(c.arguments).kind, c.kind) << ::testing::PrintToString(c.arguments);
    }
}

// Only the first flag counts, and what follows it is taken as it stands, flags included.
TEST(CommandLineTest, TheHeadlessArgumentsFollowTheFirstFlag) {
    const auto mode = CommandLine::choose({"w", "--headless-restore", "/b", "--headless-restore", "/s", "x"});
    EXPECT_EQ(mode.backupFolder, "/b");
    EXPECT_EQ(mode.targetFolder, "--headless-restore");
    EXPECT_EQ(mode.secretFile, "/s");
    EXPECT_EQ(CommandLine::choose({"w", "--screenshots", "/shots"}).screenshotFolder, "/shots");
}

TEST(CommandLineTest, TheSecretFileIsReadAsTrimmedUTF8) {
    test::TempFolder folder;
    const std::pair<std::string, std::string> cases[] = {
        {"\r\n  two words \t\r\n", "two words"},
        {"caf\u00E9 cr\u00E8me\n", "caf\u00E9 cr\u00E8me"},
        {std::string("bad \xC3\x28 bytes"), ""},  // not UTF-8
    };
    int i = 0;
    for (const auto& [contents, secret] : cases) {
        EXPECT_EQ(CommandLine::readSecretFile(folder.writeFile(std::to_string(i++), contents).string()), secret);
    }
    EXPECT_EQ(CommandLine::readSecretFile((folder / "missing").string()), "");
    EXPECT_EQ(CommandLine::readSecretFile(folder.string()), "");  // a folder is not a file
}

}  // namespace
}  // namespace wm

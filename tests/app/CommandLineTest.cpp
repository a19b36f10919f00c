#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/RestoreAppModel.h"
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
        {{"wmrestore", "--self-check"}, Kind::selfCheck},
        {{"wmrestore", "--headless-restore", "a", "b", "c", "--self-check"}, Kind::selfCheck},
        {{"wmrestore", "--screenshots", "x", "--self-check"}, Kind::selfCheck},
        {{"--self-check"}, Kind::selfCheck},  // the program path counts as an argument too
        {{"wmrestore", "--headless-restore", "a", "b", "c"}, Kind::headlessRestore},
        {{"wmrestore", "--screenshots", "x", "--headless-restore", "a", "b", "c"}, Kind::headlessRestore},
        {{"wmrestore", "--headless-restore", "a", "b"}, Kind::window},
        {{"wmrestore", "--headless-restore", "a", "b", "--screenshots"}, Kind::headlessRestore},
        {{"wmrestore", "--screenshots", "shots", "--headless-restore", "a", "b"}, Kind::screenshots},
        {{"wmrestore", "--screenshots"}, Kind::window},
        {{"wmrestore", "--screenshots", "x"}, Kind::screenshots},
        {{"wmrestore", "--Self-check"}, Kind::window},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& a : c.arguments) joined += a + " ";
        EXPECT_EQ(CommandLine::choose(c.arguments).kind, c.kind) << joined;
    }
}

TEST(CommandLineTest, TheHeadlessArgumentsFollowTheFirstFlag) {
    const auto mode = CommandLine::choose(
        {"wmrestore", "--headless-restore", "/b", "/t", "/s", "extra", "--headless-restore", "x", "y", "z"});
    EXPECT_EQ(mode.backupFolder, "/b");
    EXPECT_EQ(mode.targetFolder, "/t");
    EXPECT_EQ(mode.secretFile, "/s");
    // Only the first flag counts: with too few arguments after it, the later one is not used.
    EXPECT_EQ(CommandLine::choose({"w", "--headless-restore", "a", "b", "--headless-restore", "x", "y", "z"})
                  .kind,
              Kind::headlessRestore);
    // Whatever follows is taken as it stands, flags included.
    const auto taken = CommandLine::choose({"w", "--headless-restore", "a", "--headless-restore", "x"});
    EXPECT_EQ(taken.kind, Kind::headlessRestore);
    EXPECT_EQ(taken.targetFolder, "--headless-restore");
    EXPECT_EQ(CommandLine::choose({"w", "--screenshots", "/shots"}).screenshotFolder, "/shots");
}

TEST(CommandLineTest, TheSelfCheckProvesTheSentencesResolve) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(CommandLine::runSelfCheck(out, err), 0);
    EXPECT_EQ(out.str(), "Wendle Marsh Restore 0.1.3: starts, sentences resolve\n");
    EXPECT_EQ(err.str(), "");
}

TEST(CommandLineTest, TheSecretFileIsReadAsTrimmedUTF8) {
    test::TempFolder folder;
    struct Case {
        std::string contents;
        std::string secret;
    };
    const Case cases[] = {
        {"correct horse battery staple\n", "correct horse battery staple"},
        {"\r\n  two words \t\r\n", "two words"},
        {"caf\u00E9 cr\u00E8me\n", "caf\u00E9 cr\u00E8me"},
        {"", ""},
        {std::string("bad \xC3\x28 bytes"), ""},  // not UTF-8
    };
    int i = 0;
    for (const auto& c : cases) {
        const auto path = folder.writeFile("secret" + std::to_string(i++), c.contents);
        EXPECT_EQ(CommandLine::readSecretFile(path.string()), c.secret) << c.contents;
    }
    EXPECT_EQ(CommandLine::readSecretFile((folder / "missing").string()), "");
    EXPECT_EQ(CommandLine::readSecretFile(folder.string()), "");  // a folder is not a file
}

}  // namespace
}  // namespace wm

#include "app/CommandLine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/DataTable.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Kind = CommandLine::Mode::Kind;

// Only the first flag counts, and what follows it is taken as it stands, flags included.
TEST(CommandLineTest, TheModeIsChosenInItsOrder) {
    const std::map<std::string, Kind> kinds = {{"window", Kind::window},
                                               {"selfCheck", Kind::selfCheck},
                                               {"headlessRestore", Kind::headlessRestore},
                                               {"screenshots", Kind::screenshots}};
    for (const auto& row : test::dataTable("app/modes.tsv", 2)) {
        std::vector<std::string> arguments;
        std::istringstream words(row.at(0));
        for (std::string word; words >> word;) arguments.push_back(word);
        EXPECT_EQ(CommandLine::choose(arguments).kind, kinds.at(row.at(1))) << row[0];
    }
    const auto mode = CommandLine::choose({"w", "--headless-restore", "/b", "--headless-restore", "/s", "x"});
    EXPECT_EQ(std::tuple(mode.backupFolder, mode.targetFolder, mode.secretFile),
              std::tuple("/b", "--headless-restore", "/s"));
    EXPECT_EQ(CommandLine::choose({"w", "--screenshots", "/shots"}).screenshotFolder, "/shots");
}

// Only a regular UTF-8 file of at most the limit gives a secret; every other file is
// refused with a sentence naming it, and nothing blocks or reads without end.
TEST(CommandLineTest, TheSecretFileIsASmallRegularUTF8File) {
    test::TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    fs::create_symlink(folder / "0", folder / "link");
    const std::string full(CommandLine::secretFileLimit, 'k');
    int i = 0;
    auto file = [&](const std::string& contents) { return folder.writeFile(std::to_string(i++), contents).string(); };
    const std::pair<std::string, std::string> cases[] = {
        // path, secret (none: refused)
        {file("\r\n  two words \t\r\n"), "two words"},
        {file("caf\u00E9 cr\u00E8me\n"), "caf\u00E9 cr\u00E8me"},
        {file(full), full},
        {(folder / "link").string(), "two words"},
        {file(std::string("bad \xC3\x28 bytes")), ""},
        {file(full + "k"), ""},
        {(folder / "missing").string(), ""},
        {folder.string(), ""},
        {(folder / "pipe").string(), ""},
        {"/dev/zero", ""},
    };
    for (const auto& [path, secret] : cases) {
        const CommandLine::SecretFile read = CommandLine::readSecretFile(path);
        EXPECT_EQ(read.secret, secret) << path;
        EXPECT_EQ(read.problem.has_value(), secret.empty()) << path;
        EXPECT_NE(read.problem.value_or("\"" + path + "\"").find("\"" + path + "\""), std::string::npos)
            << *read.problem;
    }
}

// A headless restore goes into a new folder or an empty one, reached without a link.
TEST(CommandLineTest, TheHeadlessTargetIsANewOrEmptyFolder) {
    test::TempFolder folder;
    fs::create_directories(folder / "empty");
    fs::create_directories(folder / "full/x");
    fs::create_directory_symlink(folder / "empty", folder / "link");
    folder.writeFile("file", "x");
    const std::pair<fs::path, bool> cases[] = {
        {folder / "new", false},     {folder / "empty", false},  {folder / "empty/", false},
        {folder / "full", true},     {folder / "link", true},    {folder / "link/", true},
        {folder / "file", true},     {folder / "empty/.", true}, {".", true},
        {folder / "empty/..", true},
    };
    for (const auto& [target, refused] : cases) {
        CheckedTarget checked{FolderIdentity{}};
        EXPECT_EQ(CommandLine::targetRefusal(target.string(), &checked).has_value(), refused) << target;
        // What the restore then holds the folder to: this empty folder, or none to be made.
        if (!refused) {
            EXPECT_EQ(checked.found, FolderIdentity::of(target)) << target;
        }
    }
}

// Only failures are listed, with names unable to break a line, and at most the limit of lines.
TEST(CommandLineTest, TheListedFailuresAreBoundedAndPrintable) {
    RestoreResult result;
    for (std::size_t i = 0; i < CommandLine::maxListedFailures + 5; ++i) result.failures.push_back({"a\nb", "x"});
    result.skipped.push_back({"pipe", "a named pipe"});
    result.unpreserved.push_back({"late", "creationTime", "not settable"});
    std::ostringstream out;
    CommandLine::listFailures(result, out);
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), CommandLine::maxListedFailures + 1);
    EXPECT_TRUE(text.ends_with("a\\x0ab: x\nand 5 more\n")) << text.substr(text.size() - 40);

    // Past the records a result keeps, the line of the rest counts every failure.
    for (int i = 0; i < 250'000; ++i) result.failures.push_back({"b", "y"});
    std::ostringstream many;
    CommandLine::listFailures(result, many);
    EXPECT_TRUE(many.str().ends_with("a\\x0ab: x\nand 250005 more\n")) << many.str().substr(many.str().size() - 40);

    // Why the walk stopped is listed first, however many failures came before it, and counted once.
    result.failures.setStop({"deep\tdown", "stopped here"});
    std::ostringstream stopped;
    CommandLine::listFailures(result, stopped);
    const std::string listed = stopped.str();
    EXPECT_EQ(listed.substr(0, listed.find('\n')), "deep\\x09down: stopped here");
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), CommandLine::maxListedFailures + 1);
    EXPECT_TRUE(listed.ends_with("a\\x0ab: x\nand 250006 more\n")) << listed.substr(listed.size() - 40);
}

}  // namespace
}  // namespace wm

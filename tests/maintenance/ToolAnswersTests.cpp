// Every development tool on each bad input: its words and its exit status, read from
// tests/data/tools/answers.tsv. No message may name a type, a case or a raw exception.

#include <ios>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "ToolFailure.h"
#include "ToolProcess.h"
#include "engine/WritingLockErrors.h"
#include "format/SignedFile.h"
#include "fs/MetadataCapture.h"
#include "maintenance/Pruner.h"
#include "storage/DestinationError.h"
#include "support/DataTable.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

std::string expand(std::string text, const fs::path& folder) {
    for (std::size_t at; (at = text.find("{t}")) != std::string::npos;) text.replace(at, 3, folder.string());
    return text;
}

TEST(ToolAnswers, EveryToolAnswersBadInputInItsOwnWords) {
    const std::map<std::string, std::string> tools = {{"backup", WM_TEST_BACKUP_TOOL},
                                                      {"maintain", WM_MAINTAIN_TOOL},
                                                      {"lzfse", WM_LZFSE_TOOL},
                                                      {"views", WM_STATUS_VIEWS_TOOL}};
    TempFolder t;
    t.writeFile("src/a", "hello");
    t.writeFile("pass", "a long enough passphrase\n");
    t.writeFile("wrong", "not the passphrase at all\n");
    t.writeFile("short", "abc\n");
    t.writeFile("file", "plain");
    const std::string dir = t.string();
    const auto status = [&](const char* tool, const std::vector<std::string>& arguments) {
        return runTool(tool, arguments, t.path()).status;
    };
    ASSERT_EQ(status(WM_TEST_BACKUP_TOOL, {dir + "/src", dir + "/repo", "--passphrase-file", dir + "/pass",
                                           "--recovery-key-file", dir + "/key", "--iterations", "1000"}),
              0);
    ASSERT_EQ(status(WM_TEST_BACKUP_TOOL, {dir + "/src", dir + "/other", "--recovery-key-file", dir + "/other-key"}),
              0);
    ASSERT_EQ(status(WM_MAINTAIN_TOOL, {"replicate", dir + "/repo", dir + "/copy", "--secret-file", dir + "/key"}), 0);
    t.writeFile("copy/refs/head", std::string(200, 'x'));
    // A creation cut short before its head, begun on another computer: its config and key files.
    fs::create_directories(t / "cut");
    fs::copy(t / "other/keys", t / "cut/keys");
    fs::copy_file(t / "other/wendlemarsh.repo", t / "cut/wendlemarsh.repo");

    // An error's printable description ("Pruner.Error.noMark", "DestinationError.writeFailed"),
    // a C++ name, or the standard library's own text.
    const std::regex typeName(R"([A-Za-z](\.Error|Error)\.[a-z]|::|filesystem error|Something went wrong)");
    for (const auto& row : dataTable("tools/answers.tsv", 5)) {
        std::vector<std::string> arguments;
        if (!row[1].empty())
            for (const auto& a : split(row[1], ' ')) arguments.push_back(a == "{empty}" ? "" : expand(a, t.path()));
        if (tools.at(row[0]).empty()) continue;  // the picture tool, built only with the application
        const Answer answer = runTool(tools.at(row[0]), arguments, t.path());
        const std::string context = row[0] + " " + row[1] + "\nout: " + answer.out + "\nerr: " + answer.err;
        EXPECT_EQ(answer.status, std::stoi(row[2])) << context;
        EXPECT_NE((row[3] == "out" ? answer.out : answer.err).find(expand(row[4], t.path())), std::string::npos)
            << context;
        EXPECT_EQ(answer.status == 2, answer.err.find("\nusage: ") != std::string::npos) << context;
        EXPECT_FALSE(std::regex_search(answer.out + answer.err, typeName)) << context;
    }
    EXPECT_FALSE(fs::exists(t / "new"));       // no refused backup leaves a repository behind
    EXPECT_FALSE(fs::exists(t / "cut/refs"));  // nor makes anything in a creation it cannot prove its own
    EXPECT_FALSE(fs::exists(t / "--help"));    // the picture tool's --help draws nothing
}

// What the command lines above cannot reach: each failure gets its sentence
// (tests/data/tools/failures.tsv), none a type name.
TEST(ToolAnswers, FailuresTheToolsWordThemselves) {
    const auto sentence = [](const std::exception& error) {
        const std::string words = tools::failureSentence(error);
        EXPECT_FALSE(tools::namesAType(words)) << words;
        return words;
    };
    using Cause = WritingLockLost::Cause;
    const auto lost = [](Cause cause, std::optional<std::string> holder, std::string alreadyDone) {
        WritingLockLost error(cause, std::move(holder));
        error.alreadyDone = std::move(alreadyDone);
        return error;
    };
    const std::error_code notADirectory = std::make_error_code(std::errc::not_a_directory);
    using Operation = DestinationError::Operation;
    const RepoPath head = RepoPath() / "refs" / "head", pack = RepoPath() / "packs" / "ab" / "ab01.pack";
    // What a repository's destination throws for a write below a folder that became a link.
    TempFolder t;
    fs::create_directories(t / "elsewhere");
    fs::create_directories(t / "repo" / "packs");
    fs::create_directory_symlink(t / "elsewhere", t / "repo" / "packs" / "ab");
    const DestinationError linkRefusal = thrown<DestinationError>([&] { localFolder(t / "repo")->openWrite(pack); });
    expectTexts("tools/failures.tsv",
                {{"mark unreadable", sentence(Pruner::Error::markUnreadable())},
                 {"head moved", sentence(Pruner::Error::headMoved(""))},
                 {"head moved partway",
                  sentence(Pruner::Error::headMoved(
                      "It had taken 2 snapshots out of the list of backups and deleted 2 snapshot records."))},
                 {"lock lost", sentence(lost(Cause::takenOver, "Laptop", "It had put back 1 pack."))},
                 {"lock gone", sentence(lost(Cause::stale, std::nullopt, ""))},
                 {"lock file removed", sentence(lost(Cause::removed, std::nullopt, "It had written a new mark."))},
                 {"lock file unreadable", sentence(lost(Cause::unreadable, std::nullopt, ""))},
                 {"index incomplete", sentence(Pruner::Error::indexIncomplete())},
                 {"reachable set changed", sentence(Pruner::Error::reachableSetChanged())},
                 {"entry unavailable", sentence(MetadataCapture::Error::entryUnavailable("a/b", ENOENT))},
                 {"signature invalid", sentence(SignedFile::Error::signatureInvalid())},
                 {"write failed", sentence(DestinationError::writeFailed(RepoPath(), "Not a directory"))},
                 {"write not permitted", sentence(DestinationError::fromErrno(EACCES, head, Operation::write))},
                 {"removal not permitted", sentence(DestinationError::fromErrno(EPERM, pack, Operation::removal))},
                 {"folder not writable", sentence(DestinationError::fromErrno(EROFS, RepoPath(), Operation::rename))},
                 {"read not permitted", sentence(DestinationError::fromErrno(EACCES, head, Operation::read))},
                 {"written through a link", sentence(linkRefusal)},
                 {"unknown error", sentence(wm::Error("Thing.Error.unheardOf"))},
                 {"filesystem", sentence(fs::filesystem_error("cannot create", fs::path("x/y"), notADirectory))},
                 {"stream", sentence(std::ios_base::failure("basic_filebuf::underflow"))},
                 {"memory", sentence(std::bad_alloc())},
                 {"logic", sentence(std::logic_error("basic_string::substr"))}});
}

}  // namespace
}  // namespace wm::test

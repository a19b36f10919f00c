// Every development tool on each bad input: its words and its exit status, read from
// tests/data/tools/answers.tsv. No message may name a type, a case or a raw exception.

#include <ios>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "ToolFailure.h"
#include "ToolProcess.h"
#include "format/SignedFile.h"
#include "fs/MetadataCapture.h"
#include "maintenance/Pruner.h"
#include "storage/DestinationError.h"
#include "support/DataTable.h"
#include "support/TempFolder.h"

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
    EXPECT_FALSE(fs::exists(t / "new"));     // no refused backup leaves a repository behind
    EXPECT_FALSE(fs::exists(t / "--help"));  // the picture tool's --help draws nothing
}

// What the command lines above cannot reach: each failure gets its sentence, none a type name.
TEST(ToolAnswers, FailuresTheToolsWordThemselves) {
    const std::vector<std::pair<std::exception_ptr, std::string>> cases = {
        {std::make_exception_ptr(Pruner::Error::markUnreadable()), "could not be read, so nothing was changed"},
        {std::make_exception_ptr(Pruner::Error::headMoved()), "Another backup changed the repository meanwhile"},
        {std::make_exception_ptr(Pruner::Error::indexIncomplete()), "The index does not locate every piece"},
        {std::make_exception_ptr(Pruner::Error::reachableSetChanged()), "The snapshots to keep changed since"},
        {std::make_exception_ptr(MetadataCapture::Error::entryUnavailable("a/b", ENOENT)),
         "\"a/b\" could not be examined: No such file or directory."},
        {std::make_exception_ptr(SignedFile::Error::signatureInvalid()), "A record of the backup is damaged"},
        {std::make_exception_ptr(DestinationError::writeFailed(RepoPath(), "Not a directory")),
         "could not write the folder itself (Not a directory)."},
        {std::make_exception_ptr(wm::Error("Thing.Error.unheardOf")), "Part of the backup is damaged"},
        {std::make_exception_ptr(fs::filesystem_error("cannot create directories", fs::path("x/y"),
                                                      std::make_error_code(std::errc::not_a_directory))),
         "\"x/y\" could not be used: Not a directory."},
        {std::make_exception_ptr(std::ios_base::failure("basic_filebuf::underflow")), "could not be read or written"},
        {std::make_exception_ptr(std::bad_alloc()), "not enough memory"},
        {std::make_exception_ptr(std::logic_error("basic_string::substr")), "does not know how to describe"}};
    for (const auto& [error, words] : cases) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            const std::string sentence = tools::failureSentence(e);
            EXPECT_NE(sentence.find(words), std::string::npos) << sentence;
            EXPECT_FALSE(tools::namesAType(sentence)) << sentence;
        }
    }
}

}  // namespace
}  // namespace wm::test

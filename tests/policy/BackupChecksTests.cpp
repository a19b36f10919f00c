#include <gtest/gtest.h>

#include "policy/EmptyBackupCheck.h"
#include "policy/FilePreview.h"
#include "policy/HistorySearch.h"
#include "policy/ImportFromTimeMachine.h"
#include "policy/OpenFileHandling.h"
#include "policy/PathExtension.h"
#include "policy/PhoneBackups.h"
#include "support/DataTable.h"

namespace {

using namespace wm;

// checks.tsv: what a file browser takes for a path's extension, the lively kinds of files
// that change while read, the folders of a Time Machine drive, whether a path is a folder or
// inside it, and when a search may say it found nothing.
TEST(BackupChecks, AnswersFromTheTable) {
    test::expectAnswers(
        "policy/checks.tsv",
        {{"extension", [](const std::string& path) { return std::string(pathExtension(path)); }},
         {"lowercaseExtension", [](const std::string& path) { return lowercasePathExtension(path); }},
         {"openFileKind", [](const std::string& path) { return test::orNone(OpenFileHandling::describe(path)); }},
         {"timeMachineDisk",
          [](const std::string& entries) {
              return test::yesNo(ImportFromTimeMachine::looksLikeTimeMachine(
                  entries.empty() ? std::vector<std::string>{} : test::split(entries, '/')));
          }},
         {"insideOrIs",
          [](const std::string& in) {
              return test::yesNo(PhoneBackups::isInsideOrIs(in.substr(0, in.find(' ')), in.substr(in.find(' ') + 1)));
          }},
         {"mayReportNothingFound", [](const std::string& counts) {
              return test::yesNo(HistorySearch::mayReportNothingFound(std::stoll(counts),
                                                                      std::stoll(counts.substr(counts.find(' ')))));
          }}});
}

TEST(OpenFileHandling, KindsAndCount) {
    EXPECT_EQ(OpenFileHandling::sentence({}), std::nullopt);
    test::expectTexts("policy/open-files.tsv",
                      {{"one.plain", OpenFileHandling::sentence({"/a/notes.txt"})},
                       {"three.kinds", OpenFileHandling::sentence({"/a/x.sqlite", "/b/y.DB", "/c/z.vmdk"})},
                       {"order", OpenFileHandling::sentence({"/d.db", "/Lib.photoslibrary"})},
                       {"grouped", OpenFileHandling::sentence(std::vector<std::string>(1200, "/a/b"))}});
}

// empty-backup.tsv: previous count ("-": none), current count, whether the source exists,
// then the short reason and the sentence for the source "Documents" at "/Volumes/Work".
TEST(EmptyBackupCheck, VerdictsAtTheirThresholds) {
    for (const auto& row : test::dataTable("policy/empty-backup.tsv", 5)) {
        const auto previous = row[0] == "-" ? std::nullopt : std::optional(std::stoull(row[0]));
        const auto verdict = EmptyBackupCheck::look(previous, std::stoull(row[1]), row[2] == "yes", "/Volumes/Work");
        EXPECT_EQ(verdict.shortReason("Documents").value_or("(none)"), row[3]) << row[0] << " " << row[1];
        EXPECT_EQ(verdict.sentence("Documents").value_or("(none)"), row[4]) << row[0] << " " << row[1];
        EXPECT_EQ(verdict.shouldRefuse(), row[3] != "(none)");
    }
}

// file-preview.tsv: a file's name and size, then its kind and the sentence shown instead.
TEST(FilePreview, KindsWithinTheBudget) {
    static const char* const kinds[] = {"notShowable", "text", "image", "tooBig"};
    for (const auto& row : test::dataTable("policy/file-preview.tsv", 4)) {
        const auto kind = FilePreview::kind(row[0], std::stoull(row[1]));
        const std::string payload = kind.what.empty() ? "" : ":" + kind.what;
        EXPECT_EQ(kinds[static_cast<int>(kind.kind)] + payload, row[2]) << row[0] << " " << row[1];
        EXPECT_EQ(FilePreview::sentence(kind, row[0], std::stoull(row[1])).value_or("(none)"), row[3]) << row[0];
    }
    EXPECT_EQ(FilePreview::sentence(FilePreview::Kind::tooBig(), "big.log", 0),
              "big.log is nothing, which is more than a glance. Get it back to open it.");
}

TEST(ImportFromTimeMachine, Sentences) {
    test::expectTexts("policy/time-machine.tsv", {{"explanation", ImportFromTimeMachine::explanation()},
                                                  {"destination", ImportFromTimeMachine::doNotUseAsDestination()}});
}

TEST(HistorySearch, OrderAndProgress) {
    EXPECT_EQ(HistorySearch::order(std::vector<std::string>{"a", "b", "c"}), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(HistorySearch::progress(1234, 5000), "Read 1234 of 5000 backups");
}

}  // namespace

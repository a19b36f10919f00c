#include <gtest/gtest.h>

#include "CaseTable.h"
#include "policy/EmptyBackupCheck.h"
#include "policy/FilePreview.h"
#include "policy/HistorySearch.h"
#include "policy/ImportFromTimeMachine.h"
#include "policy/OpenFileHandling.h"
#include "policy/PathExtension.h"

namespace {

using namespace wm;

TEST(PathExtension, AsAFileBrowserReadsIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b.tar.gz", "gz"}, {"Makefile", ""}, {".bashrc", ""},
        {"dir.d/file", ""},   {"x.", ""},       {"Lib.photoslibrary/", "photoslibrary"},
        {"a/..", ""},         {"/", ""},        {"", ""}};
    for (auto [path, ext] : cases) EXPECT_EQ(pathExtension(path), ext) << path;
    EXPECT_EQ(lowercasePathExtension("A.\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(lowercasePathExtension("x.VM\xE2\x84\xAA"), "vmk");  // KELVIN SIGN lower-cases to k
}

TEST(OpenFileHandling, KindsAndCount) {
    EXPECT_EQ(OpenFileHandling::sentence({}), std::nullopt);
    EXPECT_EQ(OpenFileHandling::describe("Photos.photoslibrary/database"), std::nullopt);
    EXPECT_EQ(OpenFileHandling::describe("Photos.photoslibrary/Photos.sqlite"), "a database");
    EXPECT_EQ(OpenFileHandling::describe("/m/Lib.PhotosLibrary"), "a Photos library");
    test::expectTexts("open-files.tsv",
                      {{"one.plain", OpenFileHandling::sentence({"/a/notes.txt"})},
                       {"three.kinds", OpenFileHandling::sentence({"/a/x.sqlite", "/b/y.DB", "/c/z.vmdk"})},
                       {"order", OpenFileHandling::sentence({"/d.db", "/Lib.photoslibrary"})},
                       {"grouped", OpenFileHandling::sentence(std::vector<std::string>(1200, "/a/b"))}});
}

// empty-backup.tsv: previous count ("-": none), current count, whether the source exists,
// then the short reason and the sentence for the source "Documents" at "/Volumes/Work".
TEST(EmptyBackupCheck, VerdictsAtTheirThresholds) {
    for (const auto& row : test::caseTable("empty-backup.tsv", 5)) {
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
    for (const auto& row : test::caseTable("file-preview.tsv", 4)) {
        const auto kind = FilePreview::kind(row[0], std::stoull(row[1]));
        const std::string payload = kind.what.empty() ? "" : ":" + kind.what;
        EXPECT_EQ(kinds[static_cast<int>(kind.kind)] + payload, row[2]) << row[0] << " " << row[1];
        EXPECT_EQ(FilePreview::sentence(kind, row[0], std::stoull(row[1])).value_or("(none)"), row[3]) << row[0];
    }
    EXPECT_EQ(FilePreview::sentence(FilePreview::Kind::tooBig(), "big.log", 0),
              "big.log is nothing, which is more than a glance. Get it back to open it.");
}

TEST(ImportFromTimeMachine, DisksAndSentences) {
    const std::pair<std::vector<std::string>, bool> cases[] = {{{}, false},
                                                               {{"Photos", "Backups.backupdb"}, true},
                                                               {{"backups.backupdb"}, false},
                                                               {{"Mac.backupbundle"}, true},
                                                               {{"Mac Backup.sparsebundle"}, true},
                                                               {{"Disk.sparsebundle"}, false},
                                                               {{"Mac backup.sparsebundle"}, false},
                                                               {{"Photos", "Backups.backupdb.old"}, false}};
    for (const auto& [entries, expected] : cases)
        EXPECT_EQ(ImportFromTimeMachine::looksLikeTimeMachine(entries), expected) << entries.size();
    test::expectTexts("time-machine.tsv", {{"explanation", ImportFromTimeMachine::explanation()},
                                           {"destination", ImportFromTimeMachine::doNotUseAsDestination()}});
}

TEST(HistorySearch, OrderProgressAndNothingFound) {
    EXPECT_EQ(HistorySearch::order(std::vector<std::string>{"a", "b", "c"}), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(HistorySearch::progress(1234, 5000), "Read 1234 of 5000 backups");
    const std::tuple<int, int, bool> cases[] = {
        {0, 0, false}, {5, 5, true}, {4, 5, false}, {6, 5, true}, {1, 0, false}};
    for (auto [searched, total, may] : cases)
        EXPECT_EQ(HistorySearch::mayReportNothingFound(searched, total), may) << searched << "/" << total;
}

}  // namespace

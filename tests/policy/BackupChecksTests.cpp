#include <gtest/gtest.h>

#include "ExpectedTexts.h"
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
    test::expectTexts("open-files.txt",
                      {{"one.plain", OpenFileHandling::sentence({"/a/notes.txt"})},
                       {"three.kinds", OpenFileHandling::sentence({"/a/x.sqlite", "/b/y.DB", "/c/z.vmdk"})},
                       {"order", OpenFileHandling::sentence({"/d.db", "/Lib.photoslibrary"})},
                       {"grouped", OpenFileHandling::sentence(std::vector<std::string>(1200, "/a/b"))}});
}

TEST(EmptyBackupCheck, VerdictsAtTheirThresholds) {
    using EmptyBackupCheck::Verdict;
    struct Case {
        std::optional<std::uint64_t> previous;
        std::uint64_t current;
        bool exists;
        Verdict expected;
    };
    const std::vector<Case> cases = {{100, 100, false, Verdict::sourceMissing("/Volumes/Work")},
                                     {std::nullopt, 0, true, Verdict::proceed()},
                                     {49, 0, true, Verdict::proceed()},
                                     {50, 0, true, Verdict::suspiciouslyEmpty(50, 0)},
                                     {100, 10, true, Verdict::suspiciouslyEmpty(100, 10)},
                                     {100, 11, true, Verdict::proceed()},
                                     {100, 500, true, Verdict::proceed()},
                                     {UINT64_MAX, 0, true, Verdict::suspiciouslyEmpty(UINT64_MAX, 0)}};
    for (const Case& c : cases)
        EXPECT_EQ(EmptyBackupCheck::look(c.previous, c.current, c.exists, "/Volumes/Work"), c.expected) << c.current;
    const Verdict empty = Verdict::suspiciouslyEmpty(1200, 1), missing = Verdict::sourceMissing("/Volumes/Work");
    test::expectTexts("empty-backup.txt", {{"empty.short", empty.shortReason("Documents")},
                                           {"empty.full", empty.sentence("Documents")},
                                           {"empty.none", Verdict::suspiciouslyEmpty(60, 0).sentence("Mail")},
                                           {"missing.short", missing.shortReason("Work")},
                                           {"missing.full", missing.sentence("Work")},
                                           {"proceed.short", Verdict::proceed().shortReason("x")},
                                           {"proceed.full", Verdict::proceed().sentence("x")}});
}

TEST(FilePreview, KindsWithinTheBudget) {
    using FilePreview::Kind;
    struct Case {
        const char* name;
        std::uint64_t size;
        Kind expected;
    };
    const std::vector<Case> cases = {{"notes.TXT", 10, Kind::text()},
                                     {"photo.jpeg", 2000000, Kind::image()},
                                     {"photo.jpeg", 2000001, Kind::tooBig()},
                                     {"big.log", UINT64_MAX, Kind::tooBig()},
                                     {"Report.PAGES", UINT64_MAX, Kind::notShowable(".pages")},
                                     {"Makefile", 1, Kind::notShowable("a file with no extension")}};
    for (const Case& c : cases) EXPECT_EQ(FilePreview::kind(c.name, c.size), c.expected) << c.name << c.size;
    test::expectTexts("file-preview.txt",
                      {{"text", FilePreview::sentence(Kind::text(), "a.txt", 1)},
                       {"image", FilePreview::sentence(Kind::image(), "a.png", 1)},
                       {"tooBig.zero", FilePreview::sentence(Kind::tooBig(), "big.log", 0)},
                       {"tooBig", FilePreview::sentence(Kind::tooBig(), "big.log", 2000001)},
                       {"tooBig.max", FilePreview::sentence(Kind::tooBig(), "huge.png", UINT64_MAX)},
                       {"notShowable", FilePreview::sentence(Kind::notShowable(".pages"), "report.pages", 5)}});
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
    test::expectTexts("time-machine.txt", {{"explanation", ImportFromTimeMachine::explanation()},
                                           {"destination", ImportFromTimeMachine::doNotUseAsDestination()}});
}

TEST(HistorySearch, OrderProgressAndNothingFound) {
    EXPECT_EQ(HistorySearch::order(std::vector<std::string>{"a", "b", "c"}), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(HistorySearch::progress(0, 1), "Read 0 of 1 backups");
    EXPECT_EQ(HistorySearch::progress(1234, 5000), "Read 1234 of 5000 backups");
    const std::tuple<int, int, bool> cases[] = {
        {0, 0, false}, {5, 5, true}, {4, 5, false}, {6, 5, true}, {1, 0, false}};
    for (auto [searched, total, may] : cases)
        EXPECT_EQ(HistorySearch::mayReportNothingFound(searched, total), may) << searched << "/" << total;
}

}  // namespace

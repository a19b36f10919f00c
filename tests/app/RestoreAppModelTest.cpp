#include "app/RestoreAppModel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestBackup.h"
#include "crypto/KeyFile.h"
#include "format/PackFile.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "storage/DestinationError.h"
#include "restore/RestoreSafety.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Kind = RestoreAppModel::Phase::Kind;
using testing::at;
using testing::TestBackup;

const std::string kPassphrase = "correct horse battery staple";

class RestoreAppModelTest : public ::testing::Test {
protected:
    void openWith(const fs::path& folder, const std::string& secret) {
        model.setBackupPath(folder.string());
        model.setSecret(secret);
        model.open();
    }
    TestBackup backupWithOneFile(const std::string& name = "backup") {
        auto backup = TestBackup::create(temp / name, kPassphrase);
        backup.commit({{"one.txt", "1"}}, at(1700000000));
        return backup;
    }
    void restoreInto(const fs::path& target) {
        model.setRestoreInto(target.string());
        model.restore();
    }

    test::TempFolder temp{"wm-app-model"};
    RestoreAppModel model;
};

TEST_F(RestoreAppModelTest, OpeningAndRestoringNeedTextThatIsNotBlank) {
    struct Case {
        std::string path, secret, into;
        bool chosen, canOpen, canRestore;
    };
    const Case cases[] = {
        {"", "", "", false, false, false},
        {" /b ", "\t", "", false, false, false},
        {"/b", "s", " ", true, true, false},
        {"\u00A0/b", " s ", "\t/r", true, true, true},
        {"/b", "\n", "/r", false, true, false},  // a line break is not trimmed
    };
    for (const auto& c : cases) {
        model.setBackupPath(c.path);
        model.setSecret(c.secret);
        model.setRestoreInto(c.into);
        model.setChosen(c.chosen ? std::optional(SnapshotID::random()) : std::nullopt);
        EXPECT_EQ(model.canOpen(), c.canOpen) << c.path << "|" << c.secret;
        EXPECT_EQ(model.canRestore(), c.canRestore) << c.into;
    }
}

TEST_F(RestoreAppModelTest, ObserversSeeEveryChangeInOrderAndEqualValuesAreSilent) {
    std::vector<std::pair<RestoreAppModel::Property, std::uint64_t>> seen;
    model.setObserver([&](RestoreAppModel::Property p, const RestoreAppModel::State& s) { seen.emplace_back(p, s.revision); });
    model.setBackupPath("/a");
    model.setBackupPath("/a");
    model.setSecret("");
    model.setProblem(std::nullopt);
    model.setChosen(std::nullopt);
    model.setPhase(RestoreAppModel::Phase::closed());  // a phase always counts
    model.setPhase(RestoreAppModel::Phase::closed());
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, RestoreAppModel::Property::backupPath);
    EXPECT_EQ(seen[1].first, RestoreAppModel::Property::phase);
    EXPECT_LT(seen[0].second, seen[1].second);
    EXPECT_LT(seen[1].second, seen[2].second);

    // A restore without an open backup changes nothing at all.
    model.setChosen(SnapshotID::random());
    model.setRestoreInto((temp / "into").string());
    seen.clear();
    model.restore();
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(fs::exists(temp / "into"));
}

// One sentence per error; a type or case name never reaches the person.
TEST_F(RestoreAppModelTest, ErrorsBecomeOneSentenceWithoutTypeOrCaseNames) {
    const std::string& wrong = RestoreAppModel::wrongSecretSentence();
    const auto ioFailed = DestinationError::ioFailed(*RepoPath::parse("keys/a.key"), "EIO");
    const std::string damaged = "Part of the backup is damaged and could not be read.";
    const std::pair<std::exception_ptr, std::string> cases[] = {
        {std::make_exception_ptr(KeyFile::Error::wrongKey()), wrong},
        {std::make_exception_ptr(KeyFile::Error::malformed()), wrong},
        {std::make_exception_ptr(RepositoryError::noPassphraseSet()), RestoreAppModel::noPassphraseSentence()},
        {std::make_exception_ptr(DestinationError::notFound(RepositoryLayout::configFile())),
         "There is no Wendle Marsh backup at that location."},
        {std::make_exception_ptr(ioFailed), RepositoryPresentation::sentence(ioFailed)},
        {std::make_exception_ptr(PackFile::Error::badTrailer()), damaged},
        {std::make_exception_ptr(RepositoryError::snapshotNotFound(SnapshotID::random())), damaged},
        {std::make_exception_ptr(std::runtime_error("disk on fire")),
         "Something went wrong that Wendle Marsh did not expect. The backup was not changed; try again."},
    };
    for (const auto& [error, sentence] : cases) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            EXPECT_EQ(RestoreAppModel::sentence(e), sentence) << e.what();
        }
    }
}

// A wrong secret stays in the field for another try; an empty backup did unlock, so the
// secret is let go and the repository kept. Starting again without a list goes back to the form.
TEST_F(RestoreAppModelTest, AnOpenThatFailsSaysWhy) {
    auto backup = backupWithOneFile();
    auto empty = TestBackup::create(temp / "empty", kPassphrase);
    struct Case {
        fs::path folder;
        std::string secret;
        std::string problem;
        bool unlocked;
    };
    const Case cases[] = {
        {temp / "nothing here", kPassphrase, "There is no Wendle Marsh backup at that location.", false},
        {backup.folder(), "not the passphrase", RestoreAppModel::wrongSecretSentence(), false},
        {backup.folder(), kPassphrase + "\n", RestoreAppModel::wrongSecretSentence(), false},
        {empty.folder(), kPassphrase, RestoreAppModel::emptyBackupSentence(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder.string() + " / " + c.secret);
        openWith(c.folder, c.secret);
        EXPECT_EQ(model.phase().kind, Kind::closed);
        EXPECT_EQ(model.problem(), c.problem);
        EXPECT_EQ(model.secret(), c.unlocked ? "" : c.secret);
        EXPECT_EQ(model.hasRepository(), c.unlocked);
    }
    EXPECT_FALSE(fs::exists(temp / "nothing here"));  // reading only: nothing is made
    model.startAgain();  // without a list: back to the form, the problem cleared
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_FALSE(model.problem().has_value());
}

// Newest first; equal times keep the order of the head; folder names are repaired UTF-8.
TEST_F(RestoreAppModelTest, OpensAndListsTheNewestFirst) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    const auto first = backup.commit({{"a.txt", "one"}}, at(1700000000));
    const auto second = backup.commit({{"a.txt", "two"}}, at(1700000000));
    const auto oldest = backup.commit({{"a.txt", "three"}}, at(1600000000));
    const auto newest = backup.commit({{"a.txt", "two"}, {"b/c.txt", "three"}}, at(1700086400),
                                      {"/home/you/Documents", std::string("/home/you/bad\xFFname")});
    openWith(backup.folder(), " \t" + kPassphrase + "\u00A0");

    EXPECT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
    EXPECT_FALSE(model.problem().has_value());
    EXPECT_EQ(model.secret(), "");
    const auto rows = model.backups();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ((std::vector{rows[0].id, rows[1].id, rows[2].id, rows[3].id}), (std::vector{newest, first, second, oldest}));
    EXPECT_EQ(model.chosen(), newest);
    EXPECT_EQ(rows[0].files, 2u);
    EXPECT_EQ(rows[0].bytes, 8u);
    EXPECT_EQ(rows[0].createdAt, at(1700086400));
    EXPECT_EQ(rows[0].folders, (std::vector<std::string>{"/home/you/Documents", "/home/you/bad\uFFFDname"}));
}

// A recovery key typed in lower case with spaces opens a backup without a passphrase; a
// passphrase that looks like a malformed recovery key is still tried as a passphrase.
TEST_F(RestoreAppModelTest, EitherSecretOpensTheBackup) {
    auto byKey = TestBackup::create(temp / "no passphrase", std::nullopt);
    byKey.commit({{"one.txt", "1"}}, at(1700000000));
    std::string spaced;
    for (char c : byKey.recoveryKey()) spaced += c == '-' ? ' ' : char(std::tolower(c));
    const std::string lookalike = "ABCDE-FGHJK-MNPQR-STVWX";
    auto byLookalike = TestBackup::create(temp / "lookalike", lookalike);
    byLookalike.commit({{"one.txt", "1"}}, at(1700000000));
    for (const auto& [folder, secret] : {std::pair{byKey.folder(), spaced}, {byLookalike.folder(), lookalike}}) {
        openWith(folder, secret);
        EXPECT_EQ(model.phase().kind, Kind::open) << secret << ": " << model.problem().value_or("");
    }
}

TEST_F(RestoreAppModelTest, AListThatFailsAfterANewBackupOpenedLeavesNoOldListBehind) {
    auto first = backupWithOneFile("first");
    openWith(first.folder(), kPassphrase);
    ASSERT_EQ(model.backups().size(), 1u);

    auto second = TestBackup::create(temp / "second", kPassphrase);
    const auto damaged = second.commit({{"b", "2"}}, at(1700000000));
    {
        std::fstream file(second.folder() / RepositoryLayout::snapshot(damaged).string(),
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(20);
        file.put('\x5A');
    }
    openWith(second.folder(), kPassphrase);
    EXPECT_EQ(model.phase().kind, Kind::closed);
    ASSERT_TRUE(model.problem().has_value());
    EXPECT_TRUE(model.backups().empty());
    EXPECT_FALSE(model.chosen().has_value());

    // Nothing of the first backup can be restored through the second one.
    restoreInto(temp / "into");
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_FALSE(fs::exists(temp / "into"));
}

// Damaged or missing older records hide only their own backups, and the problem line counts them.
TEST_F(RestoreAppModelTest, DamagedRecordsHideOnlyTheirOwnBackups) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    std::vector<SnapshotID> ids;
    for (int i = 0; i < 4; ++i) ids.push_back(backup.commit({{"f", std::to_string(i)}}, at(1700000000 + i)));
    const std::pair<std::size_t, std::string> cases[] = {
        {1, "1 backup could not be read, so it is not listed."},
        {2, "2 backups could not be read, so they are not listed."},
    };
    for (const auto& [damaged, sentence] : cases) {
        fs::remove(backup.folder() / RepositoryLayout::snapshot(ids[damaged - 1]).string());
        openWith(backup.folder(), kPassphrase);
        EXPECT_EQ(model.phase().kind, Kind::open);
        EXPECT_EQ(model.problem(), sentence);
        EXPECT_EQ(model.backups().size(), 4 - damaged);
        EXPECT_EQ(model.chosen(), ids[3]);
    }
}

TEST_F(RestoreAppModelTest, ATargetInsideTheBackupIsRefusedBeforeAnythingIsWritten) {
    auto backup = backupWithOneFile();
    fs::create_directory_symlink(backup.folder(), temp / "link to backup");
    openWith(backup.folder(), kPassphrase);
    const std::string refusal = RestoreSafety::Refusal::insideTheBackup().sentence();

    for (const fs::path& target : {backup.folder(), backup.folder() / "restored", backup.folder() / "." / "x" / "..",
                                   temp / "link to backup" / "restored"}) {
        restoreInto(target);
        EXPECT_EQ(model.phase().kind, Kind::open) << target;
        EXPECT_EQ(model.problem(), refusal) << target;
    }
    EXPECT_FALSE(fs::exists(backup.folder() / "restored"));
    EXPECT_FALSE(fs::exists(backup.folder() / "one.txt"));

    // A folder beside the backup whose name only begins the same is fine.
    restoreInto(backup.folder().string() + "-restored");
    EXPECT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
}

TEST_F(RestoreAppModelTest, ASecondOperationWhileOneRunsIsIgnored) {
    auto backup = backupWithOneFile();
    model.setRestoreInto((temp / "restored").string());
    bool tried = false;
    int changesDuringTry = -1;
    int changes = 0;
    model.setObserver([&](RestoreAppModel::Property property, const RestoreAppModel::State& state) {
        ++changes;
        if (tried || property != RestoreAppModel::Property::phase || state.phase.kind != Kind::opening) return;
        tried = true;
        const int before = changes;
        // Another thread asks for an open and a restore while this open runs.
        std::thread([&] {
            model.open();
            model.restore();
        }).join();
        changesDuringTry = changes - before;
    });
    openWith(backup.folder(), kPassphrase);
    EXPECT_TRUE(tried);
    EXPECT_EQ(changesDuringTry, 0);
    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_FALSE(fs::exists(temp / "restored"));
    EXPECT_FALSE(model.isRunning());
}

}  // namespace
}  // namespace wm

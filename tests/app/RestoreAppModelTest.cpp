#include "app/RestoreAppModel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "TestBackup.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "restore/RestoreSafety.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Kind = RestoreAppModel::Phase::Kind;
using testing::TestBackup;
using testing::TestFile;

const std::string kPassphrase = "correct horse battery staple";

Date at(double seconds) { return Date::fromSeconds(seconds).repositoryPrecision(); }

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RestoreAppModelTest : public ::testing::Test {
protected:
    void openWith(const fs::path& folder, const std::string& secret) {
        model.setBackupPath(folder.string());
        model.setSecret(secret);
        model.open();
    }

    test::TempFolder temp{"wm-app-model"};
    RestoreAppModel model;
};

// Without a backup ------------------------------------------------------------------------

TEST_F(RestoreAppModelTest, OpeningAndRestoringNeedTextThatIsNotBlank) {
    struct Case {
        std::string path, secret, into;
        bool chosen;
        bool canOpen, canRestore;
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

TEST_F(RestoreAppModelTest, RestoreWithoutAnOpenBackupChangesNothing) {
    int changes = 0;
    model.setChosen(SnapshotID::random());
    model.setRestoreInto((temp / "into").string());
    model.setObserver([&](RestoreAppModel::Property, const RestoreAppModel::State&) { ++changes; });
    model.restore();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_FALSE(fs::exists(temp / "into"));
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
}

TEST_F(RestoreAppModelTest, StartAgainReturnsToTheListOrTheForm) {
    model.setProblem("x");
    model.startAgain();
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_FALSE(model.problem().has_value());
    RestoreAppModel::Backup row;
    row.id = SnapshotID::random();
    model.showForScreenshot({row});
    model.setPhase(RestoreAppModel::Phase::finished({}, "/x"));
    model.startAgain();
    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_EQ(model.chosen(), row.id);
    EXPECT_FALSE(model.hasRepository());
}

TEST_F(RestoreAppModelTest, TheSentencesReadAsWritten) {
    EXPECT_EQ(RestoreAppModel::wrongSecretSentence(),
              "That does not open this backup. If you typed a passphrase, check it and try again. If you typed a "
              "recovery key, check every group.");
    EXPECT_EQ(RestoreAppModel::noPassphraseSentence(),
              "No passphrase was set on this backup, so there is nothing to type. Use the recovery key that was "
              "written down when it was created.");
    EXPECT_EQ(RestoreAppModel::emptyBackupSentence(), "This backup has nothing in it yet.");
    EXPECT_STREQ(RestoreAppModel::appVersion, "0.1.3");
    DeviceID device;
    device.bytes.fill(0x5E);
    EXPECT_EQ(RestoreAppModel::device(), device);
}

TEST_F(RestoreAppModelTest, ErrorsBecomeOneSentence) {
    EXPECT_EQ(RestoreAppModel::sentence(KeyFile::Error::wrongKey()), RestoreAppModel::wrongSecretSentence());
    EXPECT_EQ(RestoreAppModel::sentence(KeyFile::Error::malformed()), RestoreAppModel::wrongSecretSentence());
    EXPECT_EQ(RestoreAppModel::sentence(RepositoryError::noPassphraseSet()), RestoreAppModel::noPassphraseSentence());
    const RepositoryError missing = RepositoryError::headMissing();
    EXPECT_EQ(RestoreAppModel::sentence(missing), missing.what());
    EXPECT_EQ(RestoreAppModel::sentence(std::runtime_error("disk on fire")), "disk on fire");
    const std::string& wrong = RestoreAppModel::wrongSecretSentence();
    EXPECT_NE(wrong.find("passphrase"), std::string::npos);
    EXPECT_NE(wrong.find("recovery key"), std::string::npos);
}

TEST_F(RestoreAppModelTest, AFolderWithoutABackupDoesNotOpen) {
    openWith(temp / "nothing here", kPassphrase);
    EXPECT_EQ(model.phase().kind, Kind::closed);
    ASSERT_TRUE(model.problem().has_value());
    EXPECT_FALSE(model.problem()->empty());
    EXPECT_EQ(model.secret(), kPassphrase);  // kept for another try
    EXPECT_FALSE(model.hasRepository());
    EXPECT_FALSE(fs::exists(temp / "nothing here"));  // reading only: nothing is made
}

// With real backups ---------------------------------------------------------------------

TEST_F(RestoreAppModelTest, OpensWithAPassphraseAndListsTheNewestFirst) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    const auto older = backup.commit({{"a.txt", "one"}}, at(1700000000));
    const auto newer = backup.commit({{"a.txt", "two"}, {"b/c.txt", "three"}}, at(1700086400),
                                     {"/home/you/Documents", std::string("/home/you/bad\xFFname")});
    openWith(backup.folder(), " \t" + kPassphrase + "\u00A0");

    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_FALSE(model.problem().has_value());
    EXPECT_EQ(model.secret(), "");
    const auto rows = model.backups();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, newer);
    EXPECT_EQ(rows[1].id, older);
    EXPECT_EQ(model.chosen(), newer);
    EXPECT_EQ(rows[0].files, 2u);
    EXPECT_EQ(rows[0].bytes, 8u);
    EXPECT_EQ(rows[0].createdAt, at(1700086400));
    EXPECT_EQ(rows[0].folders, (std::vector<std::string>{"/home/you/Documents", "/home/you/bad\uFFFDname"}));
}

TEST_F(RestoreAppModelTest, EqualTimesKeepTheOrderOfTheHead) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    const auto first = backup.commit({{"a", "1"}}, at(1700000000));
    const auto second = backup.commit({{"a", "2"}}, at(1700000000));
    const auto third = backup.commit({{"a", "3"}}, at(1600000000));
    openWith(backup.folder(), kPassphrase);
    const auto rows = model.backups();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].id, first);
    EXPECT_EQ(rows[1].id, second);
    EXPECT_EQ(rows[2].id, third);
    EXPECT_EQ(model.chosen(), first);
}

TEST_F(RestoreAppModelTest, WrongSecretsGetTheWrongSecretSentence) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"a", "1"}}, at(1700000000));
    for (const std::string& secret : std::vector<std::string>{"not the passphrase", "short", kPassphrase + "\n", ""}) {
        openWith(backup.folder(), secret);
        EXPECT_EQ(model.phase().kind, Kind::closed) << secret;
        EXPECT_EQ(model.problem(), RestoreAppModel::wrongSecretSentence()) << secret;
        EXPECT_EQ(model.secret(), secret);
    }
}

TEST_F(RestoreAppModelTest, ARecoveryKeyTypedWithSpacesUnlocksThroughTheRecoveryKey) {
    // No passphrase on this backup: only the recovery-key path can open it.
    auto backup = TestBackup::create(temp / "backup", std::nullopt);
    backup.commit({{"a", "1"}}, at(1700000000));
    std::string spaced;
    for (char c : backup.recoveryKey()) spaced += c == '-' ? std::string(" ") : std::string(1, static_cast<char>(std::tolower(c)));
    openWith(backup.folder(), "  " + spaced + "\t");
    EXPECT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");

    openWith(backup.folder(), "some passphrase");
    EXPECT_EQ(model.problem(), RestoreAppModel::noPassphraseSentence());
}

TEST_F(RestoreAppModelTest, AMalformedRecoveryKeyIsTriedAsAPassphrase) {
    const std::string lookalike = "ABCDE-FGHJK-MNPQR-STVWX";
    auto backup = TestBackup::create(temp / "backup", lookalike);
    backup.commit({{"a", "1"}}, at(1700000000));
    openWith(backup.folder(), lookalike);
    EXPECT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
}

TEST_F(RestoreAppModelTest, AnEmptyBackupSaysSoAndKeepsTheRepository) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    openWith(backup.folder(), kPassphrase);
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_EQ(model.problem(), "This backup has nothing in it yet.");
    EXPECT_EQ(model.secret(), "");
    EXPECT_TRUE(model.hasRepository());
}

TEST_F(RestoreAppModelTest, AListThatFailsAfterANewBackupOpenedLeavesNoOldListBehind) {
    auto first = TestBackup::create(temp / "first", kPassphrase);
    first.commit({{"a", "1"}}, at(1700000000));
    openWith(first.folder(), kPassphrase);
    ASSERT_EQ(model.backups().size(), 1u);

    auto second = TestBackup::create(temp / "second", kPassphrase);
    const auto damaged = second.commit({{"b", "2"}}, at(1700000000));
    const fs::path record = second.folder() / RepositoryLayout::snapshot(damaged).string();
    {
        std::fstream file(record, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(20);
        file.put('\x5A');
    }
    openWith(second.folder(), kPassphrase);
    EXPECT_EQ(model.phase().kind, Kind::closed);
    ASSERT_TRUE(model.problem().has_value());
    EXPECT_TRUE(model.backups().empty());
    EXPECT_FALSE(model.chosen().has_value());

    // Nothing of the first backup can be restored through the second one.
    model.setRestoreInto((temp / "into").string());
    model.restore();
    EXPECT_EQ(model.phase().kind, Kind::closed);
    EXPECT_FALSE(fs::exists(temp / "into"));
}

TEST_F(RestoreAppModelTest, RestoresTheChosenBackupWhole) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"old.txt", "old"}}, at(1600000000));
    backup.commit({{"one.txt", "one"}, {"a/two.txt", "two"}, {"a/b/three.txt", "three"}}, at(1700000000));
    openWith(backup.folder(), kPassphrase);
    model.setRestoreInto((temp / "restored").string() + " ");
    model.restore();

    const auto phase = model.phase();
    ASSERT_EQ(phase.kind, Kind::finished) << model.problem().value_or("");
    EXPECT_TRUE(phase.result.isComplete());
    EXPECT_EQ(phase.result.filesRestored, 3u);
    EXPECT_EQ(phase.into, (temp / "restored").string());
    EXPECT_EQ(contentsOf(temp / "restored" / "a" / "b" / "three.txt"), "three");
    EXPECT_FALSE(fs::exists(temp / "restored" / "old.txt"));

    model.startAgain();
    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_EQ(model.backups().size(), 2u);
}

TEST_F(RestoreAppModelTest, AFileAlreadyInTheTargetIsAFailureAndStaysUntouched) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"one.txt", "from the backup"}}, at(1700000000));
    temp.writeFile("restored/one.txt", "mine");
    openWith(backup.folder(), kPassphrase);
    model.setRestoreInto((temp / "restored").string());
    model.restore();
    const auto phase = model.phase();
    ASSERT_EQ(phase.kind, Kind::finished);
    EXPECT_FALSE(phase.result.isComplete());
    EXPECT_FALSE(model.problem().has_value());
    EXPECT_EQ(contentsOf(temp / "restored" / "one.txt"), "mine");
}

TEST_F(RestoreAppModelTest, ATargetInsideTheBackupIsRefusedBeforeAnythingIsWritten) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"one.txt", "1"}}, at(1700000000));
    fs::create_directory_symlink(backup.folder(), temp / "link to backup");
    openWith(backup.folder(), kPassphrase);
    const std::string refusal = RestoreSafety::Refusal::insideTheBackup().sentence();

    for (const fs::path& target : {backup.folder(), backup.folder() / "restored", backup.folder() / "." / "x" / "..",
                                   temp / "link to backup" / "restored"}) {
        model.setRestoreInto(target.string());
        model.restore();
        EXPECT_EQ(model.phase().kind, Kind::open) << target;
        EXPECT_EQ(model.problem(), refusal) << target;
    }
    EXPECT_FALSE(fs::exists(backup.folder() / "restored"));
    EXPECT_FALSE(fs::exists(backup.folder() / "one.txt"));

    // A folder beside the backup whose name only begins the same is fine.
    model.setRestoreInto(backup.folder().string() + "-restored");
    model.restore();
    EXPECT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
}

TEST_F(RestoreAppModelTest, ASecondOperationWhileOneRunsIsIgnored) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"one.txt", "1"}}, at(1700000000));
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

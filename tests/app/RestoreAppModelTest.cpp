#include "app/RestoreAppModel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "TestBackup.h"
#include "crypto/KeyFile.h"
#include "format/PackFile.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "restore/RestoreSafety.h"
#include "storage/DestinationError.h"
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
    TestBackup backupWithOneFile(const std::string& name = "backup", std::optional<std::string> secret = kPassphrase) {
        auto backup = TestBackup::create(temp / name, secret);
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

// One sentence per error; a type or case name never reaches the person.
TEST_F(RestoreAppModelTest, ErrorsBecomeOneSentenceWithoutTypeOrCaseNames) {
    const auto ioFailed = DestinationError::ioFailed(*RepoPath::parse("keys/a.key"), "EIO");
    const std::string damaged = "Part of the backup is damaged and could not be read.";
    EXPECT_EQ(RestoreAppModel::sentence(KeyFile::Error::malformed()), RestoreAppModel::wrongSecretSentence());
    EXPECT_EQ(RestoreAppModel::sentence(RepositoryError::noPassphraseSet()), RestoreAppModel::noPassphraseSentence());
    EXPECT_EQ(RestoreAppModel::sentence(ioFailed), RepositoryPresentation::sentence(ioFailed));
    EXPECT_EQ(RestoreAppModel::sentence(PackFile::Error::badTrailer()), damaged);
    EXPECT_EQ(RestoreAppModel::sentence(RepositoryError::snapshotNotFound(SnapshotID::random())), damaged);
    EXPECT_EQ(RestoreAppModel::sentence(std::runtime_error("disk on fire")),
              "Something went wrong that Wendle Marsh did not expect. The backup was not changed; try again.");
}

// A wrong secret stays in the field for another try; an empty backup did unlock, so the
// secret is let go and the repository kept. A passphrase that looks like a malformed
// recovery key is still tried as a passphrase.
TEST_F(RestoreAppModelTest, AnOpenThatFailsSaysWhy) {
    auto backup = backupWithOneFile();
    auto empty = TestBackup::create(temp / "empty", kPassphrase);
    const std::string lookalike = "ABCDE-FGHJK-MNPQR-STVWX";
    const std::tuple<fs::path, std::string, std::optional<std::string>, bool> cases[] = {
        {temp / "nothing here", kPassphrase, "There is no Wendle Marsh backup at that location.", false},
        {backup.folder(), lookalike, RestoreAppModel::wrongSecretSentence(), false},
        {backup.folder(), kPassphrase + "\n", RestoreAppModel::wrongSecretSentence(), false},
        {empty.folder(), kPassphrase, RestoreAppModel::emptyBackupSentence(), true},
        {backupWithOneFile("lookalike", lookalike).folder(), lookalike, std::nullopt, true},
    };
    for (const auto& [folder, secret, problem, unlocked] : cases) {
        openWith(folder, secret);
        EXPECT_EQ(model.phase().kind, problem ? Kind::closed : Kind::open) << folder;
        EXPECT_EQ(model.problem(), problem) << folder;
        EXPECT_EQ(model.secret(), unlocked ? "" : secret);
    }
    EXPECT_FALSE(fs::exists(temp / "nothing here"));  // reading only: nothing is made
}

// Newest first; equal times keep the order of the head; folder names are repaired UTF-8;
// a recovery key typed in lower case with spaces opens a backup without a passphrase.
TEST_F(RestoreAppModelTest, OpensAndListsTheNewestFirst) {
    auto backup = TestBackup::create(temp / "backup", std::nullopt);
    const auto first = backup.commit({{"a.txt", "one"}}, at(1700000000));
    const auto second = backup.commit({{"a.txt", "two"}}, at(1700000000));
    const auto oldest = backup.commit({{"a.txt", "three"}}, at(1600000000));
    const auto newest = backup.commit({{"a.txt", "two"}, {"b/c.txt", "three"}}, at(1700086400),
                                      {"/home/you/Documents", std::string("/home/you/bad\xFFname")});
    std::string spaced;
    for (char c : backup.recoveryKey()) spaced += c == '-' ? ' ' : char(std::tolower(c));
    openWith(backup.folder(), " \t" + spaced + "\u00A0");
    EXPECT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
    const auto rows = model.backups();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ((std::vector{rows[0].id, rows[1].id, rows[2].id, rows[3].id}),
              (std::vector{newest, first, second, oldest}));
    EXPECT_EQ(model.chosen(), newest);
    EXPECT_EQ(std::tuple(rows[0].files, rows[0].bytes, rows[0].createdAt), std::tuple(2u, 8u, at(1700086400)));
    EXPECT_EQ(rows[0].folders, (std::vector<std::string>{"/home/you/Documents", "/home/you/bad\uFFFDname"}));
}

// A head that lists snapshots again, one of them without its record: each is listed once, at
// its first listing (equal times keep that order), and counted once when it does not read.
TEST_F(RestoreAppModelTest, AHeadThatRepeatsSnapshotsListsEachOnce) {
    auto backup = TestBackup::create(temp / "backup", kPassphrase);
    const auto a = backup.commit({{"a.txt", "one"}}, at(1700000000));
    const auto b = backup.commit({{"a.txt", "two"}}, at(1700000000));
    const auto gone = backup.commit({{"a.txt", "four"}}, at(1650000000));
    fs::remove(backup.folder() / RepositoryLayout::snapshot(gone).string());
    backup.list({b, a, gone, b, a, gone, b});
    openWith(backup.folder(), kPassphrase);
    EXPECT_EQ(model.problem(), "1 backup could not be read, so it is not listed.");
    std::vector<SnapshotID> listed;
    for (const auto& row : model.backups()) listed.push_back(row.id);
    EXPECT_EQ(listed, (std::vector{b, a}));
}

// Repository files damaged past what the format writes are refused before they are read (a
// terabyte each, were they read whole); a damaged or missing older record hides only its own
// backup and the problem line counts them; an index file that is a named pipe blocks nothing.
// An open that fails, before unlocking or while listing, leaves no list of an earlier backup.
TEST_F(RestoreAppModelTest, DamagedFilesAreReadWithinBoundsAndHideOnlyWhatTheyHold) {
    const fs::path earlier = backupWithOneFile("earlier").folder();
    using Damage = std::function<void(const fs::path&, const std::vector<SnapshotID>&)>;
    auto grow = [](const fs::path& file) { fs::resize_file(file, std::uintmax_t{1} << 40); };
    auto eachIn = [](const fs::path& folder, const std::function<void(const fs::path&)>& damage) {
        for (const auto& file : fs::directory_iterator(folder)) damage(file.path());
    };
    auto record = [](const fs::path& b, SnapshotID id) { return b / RepositoryLayout::snapshot(id).string(); };
    const std::string damaged = "Part of the backup is damaged and could not be read.";
    const std::tuple<std::string, Damage, std::optional<std::string>, std::size_t> cases[] = {
        // problem, listed
        {"config", [&](auto& b, auto&) { grow(b / RepositoryLayout::configFile().string()); }, damaged, 0},
        {"head", [&](auto& b, auto&) { grow(b / RepositoryLayout::head().string()); }, damaged, 0},
        {"keys", [&](auto& b, auto&) { eachIn(b / "keys", grow); }, RestoreAppModel::wrongSecretSentence(), 0},
        {"old record", [&](auto& b, auto& ids) { grow(record(b, ids[0])); },
         "1 backup could not be read, so it is not listed.", 2},
        {"two records", [&](auto& b, auto& ids) { fs::remove(record(b, ids[0])), fs::remove(record(b, ids[1])); },
         "2 backups could not be read, so they are not listed.", 1},
        {"index pipe",
         [&](auto& b, auto&) { eachIn(b / "index", [](auto& f) { fs::remove(f), ::mkfifo(f.c_str(), 0600); }); },
         std::nullopt, 3},
    };
    for (const auto& [name, damage, problem, listed] : cases) {
        auto backup = TestBackup::create(temp / name, kPassphrase);
        std::vector<SnapshotID> ids;
        for (int i = 0; i < 3; ++i) ids.push_back(backup.commit({{"f", std::to_string(i)}}, at(1700000000 + i)));
        damage(backup.folder(), ids);
        openWith(earlier, kPassphrase);
        openWith(backup.folder(), kPassphrase);
        EXPECT_EQ(model.problem(), problem) << name;
        EXPECT_EQ(model.backups().size(), listed) << name;
        EXPECT_EQ(model.chosen(), listed ? std::optional(ids[2]) : std::nullopt) << name;
        restoreInto(temp / ("into " + name));
        EXPECT_EQ(model.phase().kind, listed ? Kind::finished : Kind::closed) << name;
        EXPECT_EQ(fs::exists(temp / ("into " + name)), listed > 0) << name;
    }
}

// The backup's folder, however it is reached, is refused before anything is written.
TEST_F(RestoreAppModelTest, ATargetInsideTheBackupIsRefusedBeforeAnythingIsWritten) {
    auto backup = backupWithOneFile();
    fs::create_directory_symlink(backup.folder(), temp / "link to backup");
    openWith(backup.folder(), kPassphrase);
    for (const fs::path& target : {backup.folder(), temp / "link to backup" / "restored"}) {
        restoreInto(target);
        EXPECT_EQ(model.problem(), RestoreSafety::Refusal::insideTheBackup().sentence()) << target;
    }
    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_FALSE(fs::exists(backup.folder() / "restored") || fs::exists(backup.folder() / "one.txt"));
}

// A target that is not the folder its check found is refused before anything is written.
TEST_F(RestoreAppModelTest, ATargetThatIsNotTheOneCheckedIsRefused) {
    auto backup = backupWithOneFile();
    openWith(backup.folder(), kPassphrase);
    for (const char* folder : {"checked", "other"}) fs::create_directories(temp / folder);
    const CheckedTarget checked{FolderIdentity::of(temp / "checked")};
    fs::rename(temp / "other", temp / "checked");
    model.setRestoreInto((temp / "checked").string());
    model.restore(checked);
    EXPECT_EQ(model.problem(), PathSafetyViolation::targetReplaced((temp / "checked").string()).what());
    EXPECT_TRUE(model.phase().kind == Kind::open && fs::is_empty(temp / "checked"));
}

// A target that cannot be made says why, and nothing is made: a file on the way, a name too long.
TEST_F(RestoreAppModelTest, ATargetThatCannotBeMadeSaysWhy) {
    auto backup = backupWithOneFile();
    openWith(backup.folder(), kPassphrase);
    temp.writeFile("file", "x");
    const fs::path underAFile = temp / "file/new", tooLong = temp / std::string(300, 'n');
    const std::pair<fs::path, std::string> cases[] = {
        {underAFile, "Wendle Marsh cannot restore into " + underAFile.string() +
                         ": part of that path is a file, not a folder. Choose another folder."},
        {tooLong,
         "Wendle Marsh cannot make " + tooLong.string() + " because its path is too long. Choose a shorter one."}};
    for (const auto& [target, sentence] : cases) {
        restoreInto(target);
        EXPECT_EQ(model.problem(), sentence);
        EXPECT_EQ(model.phase().kind, Kind::open);
    }
    std::set<fs::path> left;
    for (const auto& item : fs::directory_iterator(temp.path())) left.insert(item.path().filename());
    EXPECT_EQ(left, (std::set<fs::path>{"backup", "file"}));
}

// Another thread asks for an open and a restore while an open runs: neither starts.
TEST_F(RestoreAppModelTest, ASecondOperationWhileOneRunsIsIgnored) {
    auto backup = backupWithOneFile();
    model.setRestoreInto((temp / "restored").string());
    int changes = 0, changesDuringTry = -1;
    model.setObserver([&](RestoreAppModel::Property property, const RestoreAppModel::State& state) {
        ++changes;
        if (changesDuringTry >= 0 || property != RestoreAppModel::Property::phase || state.phase.kind != Kind::opening)
            return;
        const int before = changes;
        std::thread([&] {
            model.open();
            model.restore();
        }).join();
        changesDuringTry = changes - before;
    });
    openWith(backup.folder(), kPassphrase);
    EXPECT_EQ(changesDuringTry, 0);
    EXPECT_EQ(model.phase().kind, Kind::open);
    EXPECT_FALSE(fs::exists(temp / "restored"));
}

}  // namespace
}  // namespace wm

// The built program, run the way people and scripts run it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ProcessRun.h"
#include "TestBackup.h"
#include "app/RestoreAppModel.h"
#include "restore/RestoreSafety.h"
#include "support/TempFolder.h"
#include "support/Unprivileged.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using testing::ProcessOutcome;
using testing::TestBackup;

const std::string kPassphrase = "correct horse battery staple";
const std::string kSelfCheckLine = "Wendle Marsh Restore 0.1.3: starts, sentences resolve\n";

ProcessOutcome wmrestore(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), WMRESTORE_PATH);
    // No display: a mode that wrongly opened a window must not hang the test.
    return testing::runProcess(arguments, {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"});
}

class WmrestoreTest : public ::testing::Test {
protected:
    std::string secretFile(const std::string& contents) {
        return temp.writeFile("secret-" + std::to_string(files++), contents).string();
    }
    TestBackup sampleBackup(std::optional<std::string> passphrase = kPassphrase) {
        auto backup = TestBackup::create(temp / "backup", passphrase);
        backup.commit({{"one.txt", "1"}, {"a/two.txt", "22"}, {"a/b/three.txt", "333"}},
                      Date::fromSeconds(1700000000).repositoryPrecision());
        return backup;
    }
    std::string into() const { return (temp / "restored").string(); }

    test::TempFolder temp{"wm-wmrestore"};
    int files = 0;
};

TEST_F(WmrestoreTest, TheSelfCheckWinsOverEveryOtherMode) {
    const std::vector<std::vector<std::string>> runs = {
        {"--self-check"},
        {"--headless-restore", "/nonexistent/b", "/nonexistent/t", "/nonexistent/s", "--self-check"},
        {"--screenshots", (temp / "shots").string(), "--self-check"},
    };
    for (const auto& arguments : runs) {
        const auto outcome = wmrestore(arguments);
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.out, kSelfCheckLine);
        EXPECT_EQ(outcome.err, "");
    }
    EXPECT_FALSE(fs::exists(temp / "shots"));
}

TEST_F(WmrestoreTest, AHeadlessRestorePrintsItsCounts) {
    auto backup = sampleBackup();
    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secretFile(kPassphrase + "\n")});
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "restored 3 files, 2 folders\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(fs::exists(temp / "restored" / "a" / "b" / "three.txt"));
}

TEST_F(WmrestoreTest, ArgumentsAfterTheThreeAreIgnored) {
    auto backup = sampleBackup();
    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secretFile(kPassphrase),
                                    "--screenshots", (temp / "shots").string()});
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "restored 3 files, 2 folders\n");
    EXPECT_FALSE(fs::exists(temp / "shots"));
}

TEST_F(WmrestoreTest, ABackupThatDoesNotOpenSaysWhy) {
    auto backup = sampleBackup();
    auto unprotected = TestBackup::create(temp / "no passphrase", std::nullopt);
    unprotected.commit({{"x", "y"}}, Date::repositoryNow());
    auto empty = TestBackup::create(temp / "empty", kPassphrase);
    struct Case {
        const char* name;
        std::string folder;
        std::string secretPath;
        std::string sentence;  // empty: any sentence
    };
    const Case cases[] = {
        {"wrong secret", backup.folder().string(), secretFile("not it at all\n"), RestoreAppModel::wrongSecretSentence()},
        {"missing secret file", backup.folder().string(), (temp / "no such file").string(),
         RestoreAppModel::wrongSecretSentence()},
        {"missing secret file, no passphrase", unprotected.folder().string(), (temp / "no such file").string(),
         RestoreAppModel::noPassphraseSentence()},
        {"empty repository", empty.folder().string(), secretFile(kPassphrase), "This backup has nothing in it yet."},
        {"no backup there", (temp / "nowhere").string(), secretFile(kPassphrase), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto outcome = wmrestore({"--headless-restore", c.folder, into(), c.secretPath});
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.out, "");
        if (!c.sentence.empty()) {
            EXPECT_EQ(outcome.err, "could not open: " + c.sentence + "\n");
        } else {
            EXPECT_EQ(outcome.err.rfind("could not open: ", 0), 0u) << outcome.err;
            EXPECT_GT(outcome.err.size(), std::string("could not open: \n").size());
            EXPECT_EQ(outcome.err.back(), '\n');
        }
        EXPECT_FALSE(fs::exists(temp / "restored"));
    }
}

TEST_F(WmrestoreTest, AnUnreadableFolderDoesNotOpen) {
    auto backup = sampleBackup();
    fs::permissions(backup.folder(), fs::perms::owner_all);  // nobody else may read it
    const std::string secret = secretFile(kPassphrase);
    // Run by a user who may not read the backup (root reads everything).
    const auto child = test::runUnprivileged([&](const auto& report) {
        const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secret});
        report(outcome.err);
        return outcome.exitStatus;
    });
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(child.status, 1);
    EXPECT_EQ(child.output.rfind("could not open: ", 0), 0u) << child.output;
    EXPECT_NE(child.output.find("permissionDenied"), std::string::npos) << child.output;
    EXPECT_EQ(child.output.back(), '\n');
}

TEST_F(WmrestoreTest, AFileAlreadyInTheTargetFailsTheRestoreAndStays) {
    auto backup = sampleBackup();
    temp.writeFile("restored/one.txt", "mine");
    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secretFile(kPassphrase)});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "restore failed: no reason given\n");
    EXPECT_EQ(stringOf(temp.readFile("restored/one.txt")), "mine");
}

TEST_F(WmrestoreTest, ATargetInsideTheBackupIsRefused) {
    auto backup = sampleBackup();
    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(),
                                    (backup.folder() / "restored").string(), secretFile(kPassphrase)});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err, "restore failed: " + RestoreSafety::Refusal::insideTheBackup().sentence() + "\n");
    EXPECT_FALSE(fs::exists(backup.folder() / "restored"));
}

TEST_F(WmrestoreTest, ARecoveryKeyInTheSecretFileUnlocks) {
    auto backup = sampleBackup(std::nullopt);
    std::string spaced = backup.recoveryKey();
    for (char& c : spaced) c = c == '-' ? ' ' : c;
    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secretFile("\n" + spaced + "\r\n")});
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "restored 3 files, 2 folders\n");
}

TEST_F(WmrestoreTest, TwoArgumentsAfterTheHeadlessFlagFallThroughToTheScreenshots) {
    const auto outcome = wmrestore({"--screenshots", (temp / "shots").string(), "--headless-restore", "a", "b"});
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "wmrestore-shot: wrote 4 screenshots to " + (temp / "shots").string() + "\n");
    EXPECT_TRUE(fs::exists(temp / "shots" / "restore-done.png"));
    EXPECT_FALSE(fs::exists(temp / "restored"));
}

}  // namespace
}  // namespace wm

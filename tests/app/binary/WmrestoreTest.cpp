// The built program, run the way people and scripts run it: every line and exit status it
// answers with.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "ProcessRun.h"
#include "TestBackup.h"
#include "app/RestoreAppModel.h"
#include "restore/RestoreSafety.h"
#include "support/TempFolder.h"
#include "support/Unprivileged.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using testing::TestBackup;

const std::string kPassphrase = "correct horse battery staple";

testing::ProcessOutcome wmrestore(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), WMRESTORE_PATH);
    return testing::runProcess(arguments);
}

class WmrestoreTest : public ::testing::Test {
protected:
    std::string secretFile(const std::string& contents) {
        return temp.writeFile("secret-" + std::to_string(files++), contents).string();
    }
    std::string sampleBackup(const std::string& name, std::optional<std::string> passphrase = kPassphrase) {
        auto backup = TestBackup::create(temp / name, passphrase);
        backup.commit({{"one.txt", "1"}, {"a/two.txt", "22"}, {"a/b/three.txt", "333"}}, testing::at(1700000000));
        recoveryKey = backup.recoveryKey();
        return backup.folder().string();
    }
    std::string into() const { return (temp / "restored").string(); }

    test::TempFolder temp{"wm-wmrestore"};
    int files = 0;
    std::string recoveryKey;
};

// The order of the modes is the command line's own (CommandLineTest); one run proves the wiring.
TEST_F(WmrestoreTest, TheSelfCheckWinsOverEveryOtherMode) {
    const auto outcome = wmrestore({"--headless-restore", "/nonexistent/b", "/nonexistent/t", "/nonexistent/s",
                                    "--screenshots", (temp / "shots").string(), "--self-check"});
    EXPECT_EQ(outcome.exitStatus, 0);
    EXPECT_EQ(outcome.out, "Wendle Marsh Restore 0.1.3: starts, sentences resolve\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_FALSE(fs::exists(temp / "shots"));
}

// A catalogue whose translation of the wrong-secret sentence lost both words makes the
// self-check fail with that sentence.
TEST_F(WmrestoreTest, TheSelfCheckFailsWhenTheSentenceLostItsWords) {
    const fs::path installed = temp / "install";
    fs::create_directories(installed / "bin");
    fs::create_directories(installed / "share/locale/de/LC_MESSAGES");
    fs::copy_file(WMRESTORE_PATH, installed / "bin/wmrestore");
    const std::string translation = "Das oeffnet dieses Backup nicht.";
    const fs::path po = temp.writeFile("wm-app.po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                                                    "msgid \"" + RestoreAppModel::wrongSecretSentence() +
                                                        "\"\nmsgstr \"" + translation + "\"\n");
    const std::string mo = (installed / "share/locale/de/LC_MESSAGES/wm-app.mo").string();
    ASSERT_EQ(std::system(("msgfmt -o '" + mo + "' '" + po.string() + "'").c_str()), 0);

    const auto outcome = testing::runProcess({(installed / "bin/wmrestore").string(), "--self-check"},
                                             {"LC_ALL=C.UTF-8", "LANGUAGE=de"});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "resource bundles did not resolve: " + translation + "\n");
}

// A passphrase with a trailing line break; arguments after the three ignored; a recovery key
// typed in lower case with spaces, on a backup without a passphrase so only the recovery-key
// road opens it; a passphrase that looks like a malformed recovery key.
TEST_F(WmrestoreTest, AHeadlessRestorePrintsItsCounts) {
    const std::string plain = sampleBackup("plain");
    const std::string byKey = sampleBackup("no passphrase", std::nullopt);
    std::string spaced;
    for (char c : recoveryKey) spaced += c == '-' ? ' ' : char(std::tolower(c));
    const std::string lookalike = "ABCDE-FGHJK-MNPQR-STVWX";
    const std::string lookalikeFolder = sampleBackup("lookalike", lookalike);
    struct Case {
        std::string folder, secret;
        std::vector<std::string> more;
    };
    const Case cases[] = {
        {plain, kPassphrase + "\n", {"--screenshots", (temp / "shots").string()}},
        {byKey, "\n  " + spaced + "\r\n", {}},
        {lookalikeFolder, lookalike, {}},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string target = into() + std::to_string(run++);
        std::vector<std::string> arguments = {"--headless-restore", c.folder, target, secretFile(c.secret)};
        arguments.insert(arguments.end(), c.more.begin(), c.more.end());
        const auto outcome = wmrestore(arguments);
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "restored 3 files, 2 folders\n");
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(fs::exists(fs::path(target) / "a" / "b" / "three.txt"));
    }
    EXPECT_FALSE(fs::exists(temp / "shots"));
}

TEST_F(WmrestoreTest, ABackupThatDoesNotOpenSaysWhy) {
    const std::string backup = sampleBackup("backup");
    const std::string unprotected = sampleBackup("no passphrase", std::nullopt);
    const std::string empty = TestBackup::create(temp / "empty", kPassphrase).folder().string();
    const std::string missing = (temp / "no such file").string();
    struct Case {
        std::string folder, secretPath, sentence;
    };
    const Case cases[] = {
        {backup, secretFile("not it at all\n"), RestoreAppModel::wrongSecretSentence()},
        {unprotected, secretFile("any passphrase"), RestoreAppModel::noPassphraseSentence()},
        {backup, missing, "The secret file \"" + missing + "\" does not exist."},
        {empty, secretFile(kPassphrase), "This backup has nothing in it yet."},
        {(temp / "nowhere").string(), secretFile(kPassphrase), "There is no Wendle Marsh backup at that location."},
    };
    for (const auto& c : cases) {
        const auto outcome = wmrestore({"--headless-restore", c.folder, into(), c.secretPath});
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "could not open: " + c.sentence + "\n");
        EXPECT_FALSE(fs::exists(temp / "restored"));
    }
}

// Run by a user who may not read the backup (root reads everything): a folder that cannot be
// read, and key files that cannot be read, are the drive's sentence, never a wrong secret.
TEST_F(WmrestoreTest, AnUnreadableBackupIsNotAWrongSecret) {
    const std::string folder = sampleBackup("folder");
    fs::permissions(folder, fs::perms::owner_all);
    const std::string keys = sampleBackup("keys");
    for (const auto& file : fs::directory_iterator(fs::path(keys) / "keys")) fs::permissions(file, fs::perms::none);
    const std::string secret = secretFile(kPassphrase);
    fs::permissions(secret, fs::perms::others_read, fs::perm_options::add);
    fs::permissions(temp.path(), fs::perms::others_exec, fs::perm_options::add);
    for (const std::string& backup : {folder, keys}) {
        const auto child = test::runUnprivileged([&](const auto& report) {
            const auto outcome = wmrestore({"--headless-restore", backup, into(), secret});
            report(outcome.err);
            return outcome.exitStatus;
        });
        ASSERT_TRUE(child.exited);
        EXPECT_EQ(child.status, 1);
        // The report carries the standard-error text and a line break of its own.
        EXPECT_EQ(child.output, "could not open: Wendle Marsh does not have permission to read that location.\n\n");
    }
}

// A target that holds anything, or lies inside the backup, is refused before anything is
// written; a target that cannot be made is named.
TEST_F(WmrestoreTest, ARestoreThatFailsSaysWhy) {
    const std::string backup = sampleBackup("backup");
    temp.writeFile("restored/one.txt", "mine");
    const std::string underAFile = (temp / "restored" / "one.txt" / "x").string();
    const std::pair<std::string, std::string> cases[] = {
        {into(), "\"" + into() + "\" already holds files. Name a new folder, or an empty one, to restore into."},
        {backup + "/restored", RestoreSafety::Refusal::insideTheBackup().sentence()},
        {underAFile, RestoreAppModel::targetSentence(underAFile, std::make_error_code(std::errc::not_a_directory))},
    };
    for (const auto& [target, reason] : cases) {
        const auto outcome = wmrestore({"--headless-restore", backup, target, secretFile(kPassphrase)});
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "restore failed: " + reason + "\n");
    }
    EXPECT_EQ(stringOf(temp.readFile("restored/one.txt")), "mine");
    EXPECT_FALSE(fs::exists(backup + "/restored"));
}

TEST_F(WmrestoreTest, TwoArgumentsAfterTheHeadlessFlagFallThroughToTheScreenshots) {
    const auto outcome = wmrestore({"--screenshots", (temp / "shots").string(), "--headless-restore", "a", "b"});
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "wmrestore-shot: wrote 4 screenshots to " + (temp / "shots").string() + "\n");
    EXPECT_TRUE(fs::exists(temp / "shots" / "restore-done.png"));
}

}  // namespace
}  // namespace wm

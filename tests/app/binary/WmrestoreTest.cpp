// The built program, run the way people and scripts run it: every line and exit status it
// answers with.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "ProcessRun.h"
#include "TestBackup.h"
#include "app/RestoreAppModel.h"
#include "format/RepositoryLayout.h"
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
    std::string sampleBackup(const std::string& name) {
        auto backup = TestBackup::create(temp / name, kPassphrase);
        backup.commit({{"one.txt", "1"}, {"a/two.txt", "22"}, {"a/b/three.txt", "333"}}, testing::at(1700000000));
        return backup.folder().string();
    }
    std::string into() const { return (temp / "restored").string(); }

    test::TempFolder temp{"wm-wmrestore"};
    int files = 0;
};

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
    EXPECT_EQ(std::tuple(outcome.exitStatus, outcome.out, outcome.err),
              std::tuple(1, "", "resource bundles did not resolve: " + translation + "\n"));
}

// A passphrase with a trailing line break and arguments after the three; the roads of the
// secret itself are the model's (RestoreAppModelTest).
TEST_F(WmrestoreTest, AHeadlessRestorePrintsItsCounts) {
    const std::string backup = sampleBackup("plain");
    const auto outcome = wmrestore({"--headless-restore", backup, into(), secretFile(kPassphrase + "\n"), "--screenshots",
                                    (temp / "shots").string()});
    EXPECT_EQ(std::tuple(outcome.exitStatus, outcome.out, outcome.err), std::tuple(0, "restored 3 files, 2 folders\n", ""));
    EXPECT_TRUE(fs::exists(fs::path(into()) / "a" / "b" / "three.txt"));
    EXPECT_FALSE(fs::exists(temp / "shots"));
}

// The sentences are the model's and the command line's; a secret that does not open the
// backup, a secret file that is not there and a target that holds anything prove the roads.
TEST_F(WmrestoreTest, ARunThatFailsSaysWhyAndWritesNothing) {
    const std::string backup = sampleBackup("backup");
    const std::string missing = (temp / "no such file").string();
    const std::string full = temp.writeFile("full/one.txt", "mine").parent_path().string();
    const std::tuple<std::string, std::string, std::string> cases[] = {  // secret file, target, what it says
        {secretFile("not it at all\n"), into(), "could not open: " + RestoreAppModel::wrongSecretSentence()},
        {missing, into(), "could not open: The secret file \"" + missing + "\" does not exist."},
        {secretFile(kPassphrase), full,
         "restore failed: \"" + full + "\" already holds files. Name a new folder, or an empty one, to restore into."}};
    for (const auto& [secretPath, target, said] : cases) {
        const auto outcome = wmrestore({"--headless-restore", backup, target, secretPath});
        EXPECT_EQ(std::tuple(outcome.exitStatus, outcome.out, outcome.err), std::tuple(1, "", said + "\n"));
    }
    EXPECT_FALSE(fs::exists(into()));
    EXPECT_EQ(stringOf(temp.readFile("full/one.txt")), "mine");
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
        EXPECT_EQ(std::pair(child.exited, child.status), std::pair(true, 1));
        // The report carries the standard-error text and a line break of its own.
        EXPECT_EQ(child.output, "could not open: Wendle Marsh does not have permission to read that location.\n\n");
    }
}

// Every regular file under folder and its bytes; links are not followed.
std::map<std::string, std::string> contentsOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.symlink_status().type() != fs::file_type::regular) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[fs::relative(entry.path(), folder).string()] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

TreeObject::Entry entry(std::string_view name, std::optional<std::uint64_t> size, std::vector<BlobID> content) {
    TreeObject::Entry e;
    e.name = bytesOf(name);
    e.entryType = TreeObject::EntryType::file;
    e.mode = 0100644;
    e.uid = ::getuid();
    e.gid = ::getgid();
    e.modificationTime = e.changeTime = {1700000000, 0};
    e.size = size;
    if (!content.empty()) e.contentBlobs = std::move(content);
    return e;
}

// What could not be restored is listed after the first line, path and sentence, in the
// report's order; the backup and everything beside the target stay byte for byte.
TEST_F(WmrestoreTest, AHostileBackupSaysWhatItCouldNotRestore) {
    auto backup = TestBackup::create(temp / "hostile", kPassphrase);
    const BlobID abc = backup.store("abc");
    auto pipe = entry("pipe", std::nullopt, {});
    pipe.entryType = TreeObject::EntryType::fifo;
    auto late = entry("late", 3, {abc});
    late.modificationTime.nanoseconds = 1'500'000'000;
    backup.commitEntries({entry("short", 10, {abc}), entry("long", 2, {abc}), entry("lost", 3, {BlobID{}}), pipe,
                          late, entry("ok", 3, {abc}), entry("line\nbreak", 3, {abc})},
                         testing::at(1700000000));
    const std::string secret = secretFile(kPassphrase);
    const auto before = contentsOf(temp.path());

    const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), into(), secret});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    const std::string notUsable = "Something went wrong: destinationNotUsable(\"the backup holds ";
    const std::vector<std::string> starts = {
        "restore failed: no reason given",
        "short: " + notUsable + "less content",
        "long: " + notUsable + "more content",
        "lost: ",
        "pipe: skipped: this was a named pipe and was not recreated",
        "late: modificationTime not restored: the backup records a modification time that cannot be a time",
    };
    std::istringstream lines(outcome.err);
    std::string line;
    for (const std::string& start : starts) {
        ASSERT_TRUE(std::getline(lines, line)) << outcome.err;
        EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
    auto after = contentsOf(temp.path());
    EXPECT_EQ(after["restored/ok"], "abc");
    EXPECT_EQ(after["restored/late"], "abc");
    EXPECT_EQ(after["restored/line\nbreak"], "abc");
    for (const char* name : {"ok", "late", "line\nbreak"}) after.erase(std::string("restored/") + name);
    EXPECT_EQ(after, before);
}

// Repository files damaged past what the format writes are refused before they are read,
// and one damaged older record or an index file that is a named pipe blocks nothing else.
TEST_F(WmrestoreTest, ADamagedBackupIsReadWithinBounds) {
    constexpr std::uintmax_t oneTiB = std::uintmax_t{1} << 40;
    struct Case {
        std::string name;
        std::function<void(const fs::path&, const std::vector<SnapshotID>&)> damage;
        std::string err;  // empty: the newest backup restores
    };
    auto grow = [](const fs::path& file) { fs::resize_file(file, oneTiB); };
    const std::string damaged = "could not open: Part of the backup is damaged and could not be read.\n";
    const Case cases[] = {
        {"config", [&](const fs::path& b, auto&) { grow(b / RepositoryLayout::configFile().string()); }, damaged},
        {"head", [&](const fs::path& b, auto&) { grow(b / RepositoryLayout::head().string()); }, damaged},
        {"keys",
         [&](const fs::path& b, auto&) {
             for (const auto& key : fs::directory_iterator(b / "keys")) grow(key.path());
         },
         "could not open: " + RestoreAppModel::wrongSecretSentence() + "\n"},
        {"old record", [&](const fs::path& b, const auto& ids) { grow(b / RepositoryLayout::snapshot(ids[0]).string()); },
         ""},
        {"index pipe",
         [&](const fs::path& b, auto&) {
             for (const auto& index : fs::directory_iterator(b / "index")) {
                 fs::remove(index.path());
                 ::mkfifo(index.path().c_str(), 0600);
             }
         },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto backup = TestBackup::create(temp / c.name, kPassphrase);
        std::vector<SnapshotID> ids;
        ids.push_back(backup.commit({{"old.txt", "old"}}, testing::at(1600000000)));
        ids.push_back(backup.commit({{"new.txt", "new"}}, testing::at(1700000000)));
        c.damage(backup.folder(), ids);
        const std::string target = (temp / ("into " + c.name)).string();
        const auto outcome = wmrestore({"--headless-restore", backup.folder().string(), target, secretFile(kPassphrase)});
        if (c.err.empty()) {
            EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
            EXPECT_EQ(outcome.out, "restored 1 files, 0 folders\n");
        } else {
            EXPECT_EQ(outcome.exitStatus, 1);
            EXPECT_EQ(outcome.err, c.err);
            EXPECT_FALSE(fs::exists(target));
        }
    }
}

}  // namespace
}  // namespace wm

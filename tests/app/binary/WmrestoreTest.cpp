// The built program, run the way people and scripts run it: every line and exit status it
// answers with, and the pictures of its screenshot mode.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TestBackup.h"  // before Qt, whose "signals" keyword the engine's headers use as a name
#include "app/RestoreAppModel.h"
#include "app/WindowText.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "restore/RestoreTestSupport.h"
#include "storage/DestinationError.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"
#include "support/Unprivileged.h"

#include <QImage>

#include "app/window/RestoreScreenshots.h"
#include "ui/Style.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Outcome = std::tuple<int, std::string, std::string>;  // exit status (-1: no normal exit), output, errors

// Runs a program to its end without a display and in the C locale (a mode that wrongly opened
// a window must not hang); entries of environment ("NAME=value") come after those. Each stream
// goes to a file, so nothing needs draining while it runs.
Outcome run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) {
    static int runs = 0;
    const std::string stem =
        ::testing::TempDir() + "/wm-run-" + std::to_string(::getpid()) + "-" + std::to_string(runs++);
    auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = "env QT_QPA_PLATFORM=offscreen LC_ALL=C";
    for (const auto& word : environment) command += " " + quoted(word);
    for (const auto& word : arguments) command += " " + quoted(word);
    const int status = std::system((command + " >" + quoted(stem + ".out") + " 2>" + quoted(stem + ".err")).c_str());
    auto contentsOf = [](const std::string& path) {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        fs::remove(path);
        return text.str();
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, contentsOf(stem + ".out"), contentsOf(stem + ".err")};
}

const std::string kPassphrase = "correct horse battery staple";

class WmrestoreTest : public ::testing::Test {
protected:
    std::string secretFile(const std::string& contents) {
        return temp.writeFile("secret-" + std::to_string(files++), contents).string();
    }
    std::string sampleBackup(const std::string& name) {
        auto backup = testing::TestBackup::create(temp / name, kPassphrase);
        backup.commit({{"one.txt", "1"}, {"a/two.txt", "22"}, {"a/b/three.txt", "333"}}, testing::at(1700000000));
        return backup.folder().string();
    }
    test::TempFolder temp{"wm-wmrestore"};
    int files = 0;
};

// A catalogue whose translation of the wrong-secret sentence lost both words makes the
// self-check fail with that sentence (its success is the install check's).
TEST_F(WmrestoreTest, TheSelfCheckFailsWhenTheSentenceLostItsWords) {
    const fs::path installed = temp / "install";
    fs::create_directories(installed / "bin");
    fs::create_directories(installed / "share/locale/de/LC_MESSAGES");
    fs::copy_file(WMRESTORE_PATH, installed / "bin/wmrestore");
    const std::string translation = "Das oeffnet dieses Backup nicht.";
    const fs::path po =
        temp.writeFile("wm-app.po",
                       "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                       "msgid \"" +
                           RestoreAppModel::wrongSecretSentence() + "\"\nmsgstr \"" + translation + "\"\n");
    const std::string mo = (installed / "share/locale/de/LC_MESSAGES/wm-app.mo").string();
    ASSERT_EQ(std::system(("msgfmt -o '" + mo + "' '" + po.string() + "'").c_str()), 0);
    EXPECT_EQ(run({(installed / "bin/wmrestore").string(), "--self-check"}, {"LC_ALL=C.UTF-8", "LANGUAGE=de"}),
              Outcome(1, "", "resource bundles did not resolve: " + translation + "\n"));
}

// One run per road of a headless restore: a passphrase with a trailing line break and
// arguments after the three; a secret that does not open the backup; a secret file that is
// not there; a target that holds anything. The sentences are the model's and the command line's.
TEST_F(WmrestoreTest, AHeadlessRestoreSaysWhatItDidOrWhyNot) {
    const std::string backup = sampleBackup("backup");
    const std::string into = (temp / "restored").string(), missing = (temp / "no such file").string();
    const std::string full = temp.writeFile("full/one.txt", "mine").parent_path().string();
    auto restore = [&](const std::string& secret, const std::string& target) {
        return run({WMRESTORE_PATH, "--headless-restore", backup, target, secret, "--screenshots", into});
    };
    EXPECT_EQ(restore(secretFile("not it at all\n"), into),
              Outcome(1, "", "could not open: " + RestoreAppModel::wrongSecretSentence() + "\n"));
    EXPECT_EQ(restore(missing, into),
              Outcome(1, "", "could not open: The secret file \"" + missing + "\" does not exist.\n"));
    EXPECT_EQ(restore(secretFile(kPassphrase), full),
              Outcome(1, "",
                      "restore failed: \"" + full +
                          "\" already holds files. Name a new folder, or an empty one, to restore into.\n"));
    EXPECT_EQ(restore(secretFile(kPassphrase + "\n"), (temp / "ok").string()),
              Outcome(0, "restored 3 files, 2 folders\n", ""));
    EXPECT_FALSE(fs::exists(into));
    EXPECT_EQ(stringOf(temp.readFile("full/one.txt")), "mine");
    EXPECT_EQ(stringOf(temp.readFile("ok/a/b/three.txt")), "333");
}

// A backup whose newest record is damaged by one byte: the run says so with the date of the
// backup it restores, as the list shows it, restores that one and still exits 1.
TEST_F(WmrestoreTest, ABackupThatCouldNotBeReadIsNamedAndFailsTheRun) {
    auto backup = testing::TestBackup::create(temp / "damaged", kPassphrase);
    backup.commit({{"f", "older"}}, testing::at(1700000000));
    const fs::path record =
        backup.folder() /
        RepositoryLayout::snapshot(backup.commit({{"f", "newest"}}, testing::at(1700003600))).string();
    std::fstream bytes(record, std::ios::in | std::ios::out | std::ios::binary);
    bytes.seekg(static_cast<std::streamoff>(fs::file_size(record) / 2));
    const char flipped = static_cast<char>(bytes.peek() ^ 0x01);
    bytes.seekp(bytes.tellg()).put(flipped);
    bytes.close();
    const fs::path into = temp / "restored";
    EXPECT_EQ(
        run({WMRESTORE_PATH, "--headless-restore", backup.folder().string(), into.string(), secretFile(kPassphrase)}),
        Outcome(1, "restored 1 files, 0 folders\n",
                "1 backup could not be read, so it is not listed. Restoring the newest backup that could be "
                "read, from " +
                    WindowText::dateLine(testing::at(1700000000)) + ".\n"));
    EXPECT_EQ(stringOf(temp.readFile(into / "f")), "older");
}

// Without a display the window is not tried: one sentence pointing to the headless mode.
TEST(WmrestoreWindowTest, WithoutADisplayTheWindowSaysSo) {
    const auto [status, out, err] =
        run({"env", "-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", WMRESTORE_PATH});
    EXPECT_TRUE(status == 1 && out.empty() && err.ends_with("--headless-restore <backup> <into> <secret-file>.\n"))
        << err;
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
            const auto [status, out, err] =
                run({WMRESTORE_PATH, "--headless-restore", backup, (temp / "r").string(), secret});
            report(err);
            return status;
        });
        EXPECT_EQ(std::pair(child.exited, child.status), std::pair(true, 1));
        // The report carries the standard-error text and a line break of its own.
        EXPECT_EQ(child.output, "could not open: Wendle Marsh does not have permission to read that location.\n\n");
    }
}

// What failed is listed after the first line, path and sentence (the contents that do not fit
// their records are the restore's own tests, the lines left out the command line's). The backup
// and everything beside the target stay byte for byte.
TEST_F(WmrestoreTest, AHostileBackupSaysWhatItCouldNotRestore) {
    auto backup = testing::TestBackup::create(temp / "hostile", kPassphrase);
    const BlobID abc = backup.store("abc");
    backup.commitEntries({test::fileEntry("lost", {BlobID{}}, 3), test::fileEntry("ok", {abc}, 3),
                          test::fileEntry("line\nbreak", {abc}, 3)},
                         testing::at(1700000000));
    const std::string secret = secretFile(kPassphrase);
    const auto before = test::listTree(temp.path(), "restored");
    const auto [status, out, err] =
        run({WMRESTORE_PATH, "--headless-restore", backup.folder().string(), (temp / "restored").string(), secret});
    EXPECT_EQ(std::pair(status, out), std::pair(1, std::string()));
    EXPECT_TRUE(err.starts_with("restore failed: restored 2 files, 0 folders; 1 could not be restored\nlost: ") &&
                std::count(err.begin(), err.end(), '\n') == 2)
        << err;
    for (const std::string name : {"restored/ok", "restored/line\nbreak"})
        EXPECT_EQ(stringOf(temp.readFile(name)), "abc") << name;
    EXPECT_EQ(test::listTree(temp.path(), "restored"), before);

    // A backup that leads further than its record counts (none of its 4,094 folders here: ten
    // levels of two folders naming one tree) stops the walk: the first line says so, and counts
    // only the entries that failed, not the rest of the backup the walk never reached.
    auto stops = testing::TestBackup::create(temp / "stops", kPassphrase);
    BlobID level = stops.store(stringOf(TreeObject::encode({})), BlobType::tree);
    for (int i = 0; i < 11; ++i)
        level = stops.store(stringOf(TreeObject::encode({test::dirEntry("a", level), test::dirEntry("b", level)})),
                            BlobType::tree);
    const std::vector<TreeObject::Entry> entries{test::fileEntry("lost", {BlobID{}}, 3),
                                                 test::fileEntry("ok", {stops.store("abc")}, 3),
                                                 test::dirEntry("d", level)};
    stops.commitEntries(entries, testing::at(1700000000));
    const auto [stoppedStatus, stoppedOut, stoppedErr] =
        run({WMRESTORE_PATH, "--headless-restore", stops.folder().string(), (temp / "stopped").string(), secret});
    EXPECT_EQ(std::pair(stoppedStatus, stoppedOut), std::pair(1, std::string()));
    EXPECT_TRUE(stoppedErr.starts_with("restore failed: restored 1 files, 1000 folders, then stopped before the end "
                                       "of the backup; 1 could not be restored\nd/") &&
                std::count(stoppedErr.begin(), stoppedErr.end(), '\n') == 3)
        << stoppedErr;
}

// A file carrying 300 extended attributes named with 5,000 bytes each (more than Linux takes),
// named by two folders on each of three levels: every copy comes back without them and the
// run succeeds; each record saying so stays within the shown-text bound, the first name cut.
TEST_F(WmrestoreTest, ALongAttributeListKeepsItsRecordsBoundedAndTheRestoreSucceeds) {
    auto backup = testing::TestBackup::create(temp / "attributes", kPassphrase);
    auto file = test::fileEntry("file", {}, 0);
    file.extendedAttributes.emplace();
    for (int i = 0; i < 300; ++i)
        file.extendedAttributes->push_back({bytesOf("user.a" + std::to_string(i) + std::string(5000, 'n')), {}});
    std::vector<TreeObject::Entry> level{file};
    for (int i = 0; i < 3; ++i) {
        const BlobID tree = backup.store(stringOf(TreeObject::encode(level)), BlobType::tree);
        level = {test::dirEntry("a", tree), test::dirEntry("b", tree)};
    }
    backup.commitEntries(level, testing::at(1700000000));
    EXPECT_EQ(run({WMRESTORE_PATH, "--headless-restore", backup.folder().string(), (temp / "restored").string(),
                   secretFile(kPassphrase)}),
              Outcome(0, "restored 8 files, 14 folders\n", ""));
    RestoreAppModel model;
    model.setBackupPath(backup.folder().string());
    model.setSecret(kPassphrase);
    model.open();
    model.setRestoreInto((temp / "again").string());
    model.restore();
    model.readPhase([&](const RestoreAppModel::Phase& phase) {
        std::size_t records = 0;
        for (const auto& record : phase.result.unpreserved) {
            if (record.attribute != "extendedAttributes") continue;
            ++records;
            EXPECT_TRUE(record.reason.size() <= Unicode::shownTextBytes &&
                        record.reason.starts_with("no extended attribute could be set: \"user.a0nnn") &&
                        record.reason.ends_with("nnn\xE2\x80\xA6, and 299 more"))
                << record.reason.substr(0, 80);
        }
        EXPECT_EQ(records, 8u);
    });
}

// A pack cut short on the drive (a cloud folder still downloading) is named as there but
// incomplete, whether or not a larger blob was read before: here the first blob read is the cut one.
TEST_F(WmrestoreTest, ACutShortPackIsThereButIncomplete) {
    auto backup = testing::TestBackup::create(temp / "cut", kPassphrase);
    auto packs = [&] {
        std::set<fs::path> found;
        for (const auto& file : fs::recursive_directory_iterator(backup.folder() / "packs"))
            if (file.is_regular_file()) found.insert(fs::relative(file.path(), backup.folder()));
        return found;
    };
    const std::string contents(5000, 'c');
    backup.commit({{"one.txt", contents}}, testing::at(1700000000));
    const std::set<fs::path> first = packs();
    ASSERT_EQ(first.size(), 1u);
    // The newest snapshot's tree lies in a pack of its own; one.txt's content stays in the first.
    backup.commit({{"one.txt", contents}, {"two.txt", "2"}}, testing::at(1700000001));
    fs::resize_file(backup.folder() / *first.begin(), 18);
    const auto [status, out, err] = run({WMRESTORE_PATH, "--headless-restore", backup.folder().string(),
                                         (temp / "restored").string(), secretFile(kPassphrase)});
    const auto packPath = *RepoPath::parse(first.begin()->string());
    EXPECT_EQ(std::tuple(status, out, err),
              std::tuple(1, std::string(),
                         "restore failed: restored 1 files, 0 folders; 1 could not be restored\none.txt: " +
                             RepositoryPresentation::sentence(DestinationError::shortRead(packPath, 1, 0)) + "\n"));
    EXPECT_EQ(stringOf(temp.readFile("restored/two.txt")), "2");
}

// Four different pictures, 660 wide, that pass the blank check (which a picture of one colour
// fails), written again into the same folder by a second run. The chosen backup's mark is drawn
// in the accent, the problem line of the refused secret and the report's headline in their text
// shades. A folder that cannot be made ends the run with its error.
TEST(RestoreScreenshotsTest, TheScreenshotRunWritesFourDifferentPictures) {
    const test::TempFolder temp("wm-shots");
    const fs::path folder = temp / "nested";
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(run({WMRESTORE_PATH, "--screenshots", folder.string()}),
                  Outcome(0, "wmrestore-shot: wrote 4 screenshots to " + folder.string() + "\n", ""));
    const std::map<std::string, QColor> marks = {
        {"restore-open.png", QColor()},
        {"restore-wrong-key.png", Style::orange(Style::Appearance::light, Style::Use::text)},
        {"restore-choose.png", Style::accent(Style::Appearance::light)},
        {"restore-done.png", Style::green(Style::Appearance::light, Style::Use::text)}};
    std::set<QByteArray> contents;
    for (const auto& [name, mark] : marks) {
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((folder / name).string()), "PNG")) << name;
        EXPECT_EQ(image.width(), 660);
        EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, name));
        contents.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) drawn += image.pixel(x, y) == mark.rgb();
        EXPECT_TRUE(!mark.isValid() || drawn > 0) << name << ": the shade is not drawn";
    }
    EXPECT_EQ(contents.size(), 4u);
    QImage blank(660, 200, QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_EQ(
        test::thrown<RestoreScreenshots::Failure>([&] { RestoreScreenshots::refuseIfBlank(blank, "b.png"); }).fileName,
        "b.png");
    const auto [status, out, err] =
        run({WMRESTORE_PATH, "--screenshots", (temp.writeFile("blocker", "") / "x").string()});
    EXPECT_EQ(std::pair(status, out), std::pair(1, std::string()));
    EXPECT_TRUE(err.size() > 1 && err.ends_with('\n')) << err;
}

}  // namespace
}  // namespace wm

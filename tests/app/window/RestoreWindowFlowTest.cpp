// The window over a real backup, with the model's work on the window's worker thread.
#include <functional>

#include "TestBackup.h"
#include "app/window/WindowFixture.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Kind = RestoreAppModel::Phase::Kind;
using testing::at;

const std::string kPassphrase = "correct horse battery staple";

class RestoreWindowFlowTest : public testing::WindowFixture {
protected:
    // A backup of files many enough that opening and restoring take a while.
    testing::TestBackup backup(int snapshots) {
        auto backup = testing::TestBackup::create(temp / "backup", kPassphrase);
        std::vector<testing::TestFile> files;
        for (int i = 0; i < 1000; ++i) files.push_back({"f/" + std::to_string(i) + ".txt", std::string(200 + i, 'x')});
        for (int s = 0; s < snapshots; ++s) backup.commit(files, at(1600000000.0 + s));
        return backup;
    }
    void openAndRestore(const testing::TestBackup& backup, const std::function<void()>& whileRestoring) {
        model.setBackupPath(backup.folder().string());
        model.setSecret(kPassphrase);
        model.open();
        finishWork();
        model.setRestoreInto((temp / "restored").string());
        settle();
        click("restoreButton");
        whileRestoring();
    }
    test::TempFolder temp{"wm-window-flow"};
};

// Typed in, clicked and reported as a person does it; the older backup is the one restored.
TEST_F(RestoreWindowFlowTest, OpensChoosesRestoresAndReports) {
    auto backup = testing::TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"old.txt", "old"}}, at(1600000000));
    backup.commit({{"new.txt", "new"}, {"folder/inner.txt", "inner"}}, at(1700000000));
    QTest::keyClicks(find<QLineEdit>("backupPathField"), QString::fromStdString(backup.folder().string()));
    QTest::keyClicks(find<QLineEdit>("secretField"), QString::fromStdString(kPassphrase));
    settle();
    click("openButton");
    finishWork();
    ASSERT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
    EXPECT_EQ(find<QLineEdit>("secretField")->text(), "");  // the model let go of the secret
    auto rows = findAll<BackupRow>("backupRow");
    ASSERT_EQ(rows.size(), 2);
    QTest::mouseClick(rows[1], Qt::LeftButton, {}, QPoint(rows[1]->width() - 2, rows[1]->height() - 2));
    QTest::keyClicks(find<QLineEdit>("restoreIntoField"), QString::fromStdString((temp / "restored").string()));
    settle();
    QTest::keyClick(find<QLineEdit>("restoreIntoField"), Qt::Key_Return);
    finishWork();
    ASSERT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
    EXPECT_TRUE(shown("reportScreen"));
    EXPECT_EQ(find<QLabel>("reportSummary")->text().toStdString(),
              "1 file and 0 folders in " + (temp / "restored").string());
    EXPECT_TRUE(fs::exists(temp / "restored" / "old.txt"));
    EXPECT_FALSE(fs::exists(temp / "restored" / "new.txt"));
    click("restoreSomethingElseButton");
    settle();
    EXPECT_TRUE(shown("chooseScreen"));
    EXPECT_TRUE(findAll<BackupRow>("backupRow")[1]->isChosen());
}

// While the worker restores, the window goes on applying the model's changes and the person
// goes on typing; nothing waits for the other and every change lands.
TEST_F(RestoreWindowFlowTest, TheWindowKeepsWorkingWhileTheModelWorks) {
    openAndRestore(backup(6), [&] {
        click("restoreButton");  // a second press while the restore runs starts nothing
        for (int round = 0; model.isRunning(); ++round) {
            QApplication::processEvents();
            model.setBackupPath((temp / "typed" / std::to_string(round)).string());
            (void)window->shownState().phase.isBusy();
        }
        finishWork();
    });
    ASSERT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
    EXPECT_EQ(model.phase().result.filesRestored, 1000u);
    // The window shows the model's last state, not one that a later change overtook.
    EXPECT_EQ(window->shownState().revision, model.state().revision);
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text().toStdString(), model.backupPath());
}

// Closing the window while a restore runs keeps it, says it will close when the restore has
// finished, and closes it then.
TEST_F(RestoreWindowFlowTest, ClosingTheWindowWhileARestoreRunsWaitsForTheRestore) {
    openAndRestore(backup(1), [&] {
        EXPECT_FALSE(window->close());
        EXPECT_EQ(find<QLabel>("closingNote")->text(), "Wendle Marsh Restore will close when the restore has finished.");
        EXPECT_TRUE(window->isVisible() && shown("closingNote"));
        finishWork();
    });
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
}

}  // namespace
}  // namespace wm

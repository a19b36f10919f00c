// The window over a real backup: open, choose, restore, report, start again, with the
// model's work on the window's worker thread.
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "TestBackup.h"
#include "app/window/BackupRow.h"
#include "app/window/Widgets.h"
#include "app/window/WindowFixture.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Kind = RestoreAppModel::Phase::Kind;

class RestoreWindowFlowTest : public testing::WindowFixture {
protected:
    // Lets the worker finish and the window catch up with the model.
    void finishWork() {
        window->waitForWork();
        settle();
    }
    test::TempFolder temp{"wm-window-flow"};
};

TEST_F(RestoreWindowFlowTest, OpensChoosesRestoresAndReports) {
    const std::string passphrase = "correct horse battery staple";
    auto backup = testing::TestBackup::create(temp / "backup", passphrase);
    backup.commit({{"old.txt", "old"}}, Date::fromSeconds(1600000000).repositoryPrecision());
    backup.commit({{"new.txt", "new"}, {"folder/inner.txt", "inner"}}, Date::fromSeconds(1700000000).repositoryPrecision());

    QTest::keyClicks(find<QLineEdit>("backupPathField"), QString::fromStdString(backup.folder().string()));
    QTest::keyClicks(find<QLineEdit>("secretField"), QString::fromStdString(passphrase));
    settle();
    QTest::mouseClick(find<QPushButton>("openButton"), Qt::LeftButton);
    finishWork();

    ASSERT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
    EXPECT_TRUE(shown(find("chooseScreen")));
    EXPECT_EQ(find<QLineEdit>("secretField")->text(), "");  // the model let go of the secret
    auto rows = findAll<BackupRow>("backupRow");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0]->isChosen());

    // Choose the older backup and restore it.
    QTest::mouseClick(rows[1], Qt::LeftButton, {}, QPoint(rows[1]->width() - 2, rows[1]->height() - 2));
    QTest::keyClicks(find<QLineEdit>("restoreIntoField"), QString::fromStdString((temp / "restored").string()));
    settle();
    QTest::keyClick(find<QLineEdit>("restoreIntoField"), Qt::Key_Return);
    finishWork();

    ASSERT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
    EXPECT_TRUE(shown(find("reportScreen")));
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->text(), "Your files are back");
    EXPECT_EQ(find<QLabel>("reportSummary")->text().toStdString(),
              "1 file and 0 folders in " + (temp / "restored").string());
    EXPECT_TRUE(fs::exists(temp / "restored" / "old.txt"));
    EXPECT_FALSE(fs::exists(temp / "restored" / "new.txt"));

    QTest::mouseClick(find<QPushButton>("restoreSomethingElseButton"), Qt::LeftButton);
    settle();
    EXPECT_TRUE(shown(find("chooseScreen")));
    EXPECT_TRUE(findAll<BackupRow>("backupRow")[1]->isChosen());
}

}  // namespace
}  // namespace wm

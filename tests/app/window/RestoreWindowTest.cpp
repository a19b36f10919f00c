// The restore window over a model, with the desktop calls replaced by recorders; the model's
// work runs on the window's worker thread.
#include "TestBackup.h"  // before Qt, whose "signals" keyword the engine's headers use as a name
#include "support/DataTable.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include <map>

#include "app/RestoreAppModel.h"
#include "app/window/BackupRow.h"
#include "app/window/RestoreWindow.h"
#include "app/window/Widgets.h"
#include "ui/Style.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Phase = RestoreAppModel::Phase;
using Kind = Phase::Kind;
using testing::at;

const std::string kPassphrase = "correct horse battery staple";

class RestoreWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        WindowPlatform platform;
        platform.pickFolder = [this](QWidget*) { return ++pickerCalls, pickedFolder; };
        platform.showInFileManager = [this](const std::string& folder) { shownFolders.push_back(folder); };
        window = std::make_unique<RestoreWindow>(model, platform);
        window->show();
        settle();
    }

    // Posted changes first, then the widgets they added are shown and laid out.
    void settle() { QApplication::processEvents(), QApplication::processEvents(), QApplication::processEvents(); }
    // Lets the worker finish and the window catch up with the model.
    void finishWork() { window->waitForWork(), settle(); }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    template <class T = QWidget>
    T* find(const char* name) const {
        return window->findChild<T*>(name);
    }
    template <class T = QWidget>
    QList<T*> findAll(const char* name) const {
        return window->findChildren<T*>(name);
    }
    // Shown: not hidden itself nor inside a hidden screen of the window.
    bool shown(const char* name) const { return find(name) && find(name)->isVisibleTo(window.get()); }

    test::TempFolder temp{"wm-window"};
    RestoreAppModel model;
    std::unique_ptr<RestoreWindow> window;
    std::optional<std::string> pickedFolder;
    int pickerCalls = 0;
    std::vector<std::string> shownFolders;
};

// count rows an hour apart.
std::vector<RestoreAppModel::Backup> backupRows(int count) {
    std::vector<RestoreAppModel::Backup> rows(count);
    for (int i = 0; i < count; ++i)
        std::tie(rows[i].id, rows[i].createdAt) =
            std::pair(SnapshotID::random(), Date::fromSeconds(1.7e9 - 3600 * (i + 1)));
    return rows;
}

RestoreCoordinator::Result resultWith(int failures, int skipped = 0) {
    RestoreCoordinator::Result result;
    result.filesRestored = 3;
    result.directoriesRestored = 2;
    for (int i = 0; i < failures; ++i)
        result.failures.push_back({"folder/file " + std::to_string(i), "that name is not safe to write to disk"});
    for (int i = 0; i < skipped; ++i) result.skipped.push_back({"pipe " + std::to_string(i), "this was a named pipe"});
    return result;
}

// Labels by their text, fields by their placeholder, buttons by their title; the secondary
// shade reads at 4.5:1 on light and dark windows.
TEST_F(RestoreWindowTest, TheFixedTextsReadAsWritten) {
    EXPECT_EQ(window->windowTitle(), "Wendle Marsh Restore");
    for (const auto& [background, text] :
         {std::pair{QColor(239, 239, 239), QColor(Qt::black)}, std::pair{QColor(30, 30, 30), QColor(Qt::white)}}) {
        QPalette palette;
        palette.setColor(QPalette::Window, background);
        palette.setColor(QPalette::WindowText, text);
        EXPECT_GE(Style::contrast(TextStyles::secondary(palette), background), 4.5) << background.name().toStdString();
    }
    auto textOf = [&](const std::string& name) {
        QStringList texts;
        for (QWidget* widget : findAll(name.c_str())) {
            if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
            if (auto* field = qobject_cast<QLineEdit*>(widget)) texts << field->placeholderText();
            if (auto* button = qobject_cast<QPushButton*>(widget)) texts << button->text();
        }
        texts.sort();
        return texts.join('|').toStdString();
    };
    for (const auto& row : test::dataTable("app/window-texts.tsv", 2)) EXPECT_EQ(textOf(row.at(0)), row.at(1));
}

// Each phase shows its screen, enables its own controls and shows the problem line; fields
// of horizontal space alone (a line break is no such space) are blank.
TEST_F(RestoreWindowTest, EachPhaseShowsItsScreenAndEnablesItsOwnControls) {
    const std::map<std::string, Phase> phases = {{"closed", Phase::closed()},
                                                 {"opening", Phase::opening()},
                                                 {"open", Phase::open()},
                                                 {"restoring", Phase::restoring()},
                                                 {"finished", Phase::finished(resultWith(0), "/r")}};
    model.showForScreenshot(backupRows(2));
    for (const auto& row : test::dataTable("app/window-phases.tsv", 3)) {
        const bool filled = row[1] == "filled";
        model.setBackupPath(filled ? "\u00A0/media/backup" : "  ");
        model.setSecret(filled ? " \n " : "\t\u3000");
        model.setRestoreInto(filled ? "\t/home/you/Restored" : " ");
        model.setPhase(phases.at(row[0]));
        settle();
        std::string seen;
        for (const char* name :
             {"openForm", "chooseScreen", "reportScreen", "openBusy", "restoreBusy", "restoreBusyText"})
            if (shown(name)) seen += std::string(" ") + name;
        for (const char* button : {"openButton", "restoreButton"})
            if (find(button)->isEnabled()) seen += std::string(" ") + button;
        QList<QWidget*> fields = {find("backupPathField"), find("secretField"), find("restoreIntoField"),
                                  find("backupPathChoose"), find("restoreIntoChoose")};
        for (auto* backupRow : findAll<BackupRow>("backupRow")) fields << backupRow;
        const auto enabled = std::count_if(fields.begin(), fields.end(), [](QWidget* w) { return w->isEnabled(); });
        seen += enabled == fields.size() ? " fields" : enabled ? " some fields" : "";
        EXPECT_EQ(seen.substr(1), row[2]) << row[0] << " " << row[1];
        EXPECT_FALSE(shown("problemLine"));
    }
    model.setProblem("The drive went away.");
    settle();
    EXPECT_TRUE(shown("problemLine"));
}

// The eye shows and hides the secret without losing it; Return opens, but only once the
// action is enabled (there is no backup there: the problem shows and the secret stays).
TEST_F(RestoreWindowTest, TheSecretFieldsEyeAndReturn) {
    auto* secret = find<QLineEdit>("secretField");
    auto* eye = find<QToolButton>("revealButton");
    QTest::keyClicks(secret, "abc def");
    QTest::keyClick(secret, Qt::Key_Return);
    finishWork();
    EXPECT_FALSE(model.problem().has_value());
    for (const bool shownText : {false, true, false}) {
        EXPECT_EQ(secret->echoMode(), shownText ? QLineEdit::Normal : QLineEdit::Password);
        EXPECT_EQ(eye->accessibleName(), shownText ? "Hide what you typed" : "Show what you typed");
        EXPECT_EQ(model.secret(), secret->text().toStdString());
        if (shownText) QTest::keyClicks(secret, "!");
        QTest::mouseClick(eye, Qt::LeftButton);
        settle();
    }
    model.setBackupPath(::testing::TempDir() + "/no backup here");
    settle();
    QTest::keyClick(secret, Qt::Key_Return);
    finishWork();
    EXPECT_TRUE(model.problem().has_value() && shown("problemLine"));
    EXPECT_EQ(model.secret(), "abc def!");
}

// From five backups on the list scrolls in 232 points, so the window stops growing.
TEST_F(RestoreWindowTest, FromFiveBackupsOnTheListScrollsInAFixedHeight) {
    std::map<int, int> heights;
    for (const int rows : {1, 4, 5, 12}) {
        model.showForScreenshot(backupRows(rows));
        settle();
        auto* scroll = find<QScrollArea>("backupScroll");
        EXPECT_EQ(scroll ? scroll->height() : rows < 5 ? 232 : 0, 232) << rows;
        heights[rows] = window->height();
    }
    EXPECT_GT(heights[4], heights[1]);
    EXPECT_EQ(heights[5], heights[12]);
}

// Anywhere on a row chooses it (its empty end, its top padding, its texts), and so do the
// keys: Tab reaches the list, the arrows move the choice, Space or Return chooses the row with
// the focus (Return does not start the restore). The chosen row carries the filled mark in the
// accent; to assistive technology each row is a radio button named by its texts.
TEST_F(RestoreWindowTest, TheBackupRowsAreChosenByMouseAndKeyboardAndSpeakAsRadioButtons) {
    const auto rows = backupRows(3);
    model.showForScreenshot(rows);
    model.setRestoreInto("/home/you/Restored");
    settle();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto list = findAll<BackupRow>("backupRow");
    const QColor accent = Style::accent(Style::appearance(window->palette()));
    auto expectChosen = [&](int chosen) {
        EXPECT_EQ(model.chosen(), rows[chosen].id);
        for (int i = 0; i < 3; ++i) {
            const auto* mark = list[i]->findChild<SymbolView*>("backupMark");
            EXPECT_EQ(std::pair(mark->symbol(), mark->colour() == accent),
                      std::pair(std::string(i == chosen ? "largecircle.fill.circle" : "circle"), i == chosen));
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(list[i]);
            EXPECT_EQ(std::pair(spoken->role(), bool(spoken->state().checked)),
                      std::pair(QAccessible::RadioButton, i == chosen));
            EXPECT_EQ(spoken->text(QAccessible::Name), list[i]->findChild<QLabel*>("backupDate")->text() + ", " +
                                                           list[i]->findChild<QLabel*>("backupDetail")->text());
        }
    };
    auto* date = list[0]->findChild<QWidget*>("backupDate");
    const std::tuple<QWidget*, QPoint, int> clicks[] = {
        {list[2], QPoint(list[2]->width() - 3, list[2]->height() / 2), 2},
        {list[1], QPoint(list[1]->width() / 2, 2), 1},
        {date, QPoint(2, date->height() / 2), 0}};
    for (const auto& [target, point, row] : clicks) {
        QTest::mouseClick(target, Qt::LeftButton, {}, point);
        settle();
        expectChosen(row);
    }
    find("restoreButton")->setFocus();
    for (int i = 0; i < 10 && !qobject_cast<BackupRow*>(QApplication::focusWidget()); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), list[0]);
    // key, the row given the focus first (or -1), the row chosen
    const std::tuple<Qt::Key, int, int> presses[] = {{Qt::Key_Down, -1, 1},
                                                     {Qt::Key_Down, -1, 2},
                                                     {Qt::Key_Up, -1, 1},
                                                     {Qt::Key_Space, 0, 0},
                                                     {Qt::Key_Return, 2, 2}};
    for (const auto& [key, focused, chosen] : presses) {
        if (focused >= 0) list[focused]->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key);
        settle();
        expectChosen(chosen);
    }
    EXPECT_EQ(model.phase().kind, Phase::Kind::open);
}

// A line cut short shows its whole text as its tooltip; a line that fits has none.
TEST_F(RestoreWindowTest, TheReportShowsEightLinesAListAndNamesWhatWasNotPutBackExactly) {
    RestoreCoordinator::Result result = resultWith(9, 8);
    result.failures[1].path = std::string(300, 'n');
    model.setPhase(Phase::finished(result, "/home/you/Restored"));
    settle();
    const auto failures = find("failuresList")->findChildren<ElidedLabel*>("detailLine");
    EXPECT_EQ(std::pair(failures[0]->toolTip().toStdString(), failures[1]->toolTip().toStdString()),
              std::pair(std::string(), result.failures[1].path + ": " + result.failures[1].reason));
    const std::tuple<const char*, const char*, const char*> lists[] = {
        // list, heading, the line of the rest
        {"failuresList", "Could not be put back (9)", "and 1 more"},
        {"skippedList", "In the backup, deliberately not recreated (8)", ""}};
    for (const auto& [name, heading, rest] : lists) {
        auto* list = find(name);
        ASSERT_TRUE(list) << name;
        EXPECT_EQ(list->findChild<QLabel*>("detailHeading")->text(), heading);
        EXPECT_EQ(list->findChildren<QLabel*>("detailLine").size(), 8);
        auto* more = list->findChild<QLabel*>("detailMore");
        EXPECT_EQ(more ? more->text().toStdString() : "", rest);
    }
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->text(), "Some of your files are back");
    EXPECT_EQ(find<QLabel>("reportSummary")->text(), "3 files and 2 folders in /home/you/Restored");

    // A result keeps the first thousand records of a kind: the headings and the rest count
    // all, and an attribute named only past them is still named. Where only what lies past
    // them changes, another attribute or one more failure, the report follows.
    result = resultWith(2500, 1005);
    auto showWithAttributePastTheKept = [&](const std::string& attribute) {
        result.unpreserved = {};
        for (int i = 0; i < 1000; ++i) result.unpreserved.push_back({"f" + std::to_string(i), "ownership", "not root"});
        result.unpreserved.push_back({"changed", attribute, "why"});
        model.setPhase(Phase::finished(result, "/home/you/Restored"));
        settle();
        return find<QLabel>("unpreservedLine")->text().toStdString();
    };
    EXPECT_EQ(showWithAttributePastTheKept("content"),
              "Restored, but these could not be put back exactly: content, ownership");
    for (const auto& [name, heading, rest] :
         {std::tuple("failuresList", "Could not be put back (2500)", "and 2492 more"),
          std::tuple("skippedList", "In the backup, deliberately not recreated (1005)", "and 997 more")}) {
        EXPECT_EQ(find(name)->findChild<QLabel*>("detailHeading")->text().toStdString(), heading);
        EXPECT_EQ(find(name)->findChild<QLabel*>("detailMore")->text().toStdString(), rest);
    }
    EXPECT_EQ(showWithAttributePastTheKept("acl"), "Restored, but these could not be put back exactly: acl, ownership");
    result.failures.push_back({"late", "x"});
    EXPECT_EQ(showWithAttributePastTheKept("acl"), "Restored, but these could not be put back exactly: acl, ownership");
    EXPECT_EQ(find("failuresList")->findChild<QLabel*>("detailHeading")->text(), "Could not be put back (2501)");
    // Why the walk stopped is listed first and counted once; setting it alone changes the report.
    result.failures.setStop({"a/b/deep", "the restore stopped here"});
    showWithAttributePastTheKept("acl");
    EXPECT_EQ(find("failuresList")->findChild<QLabel*>("detailHeading")->text(), "Could not be put back (2502)");
    EXPECT_EQ(find("failuresList")->findChildren<ElidedLabel*>("detailLine").front()->QLabel::text().toStdString(),
              "a/b/deep: the restore stopped here");

    // Skipped and unpreserved entries alone: the files are back, each attribute named once.
    result = resultWith(0, 1);
    result.unpreserved = {{"b", "ownership", "not running as root"},
                          {"a", "acl", "not supported"},
                          {"c", "ownership", "not running as root"},
                          {"d", "mode", "partly applied: x"}};
    model.setPhase(Phase::finished(result, "/home/you/Restored"));
    settle();
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->text(), "Your files are back");
    EXPECT_EQ(find("failuresList"), nullptr);
    EXPECT_EQ(find<QLabel>("unpreservedLine")->text(),
              "Restored, but these could not be put back exactly: acl, mode, ownership");
}

// Chosen, typed in, clicked and reported as a person does it, the folders through the platform's
// picker (a cancelled pick writes nothing); the older backup is the one restored and shown.
TEST_F(RestoreWindowTest, OpensChoosesRestoresAndReports) {
    auto backup = testing::TestBackup::create(temp / "backup", kPassphrase);
    backup.commit({{"old.txt", "old"}}, at(1600000000));
    backup.commit({{"new.txt", "new"}, {"folder/inner.txt", "inner"}}, at(1700000000));
    click("backupPathChoose");
    EXPECT_EQ(std::pair(pickerCalls, model.backupPath()), std::pair(1, std::string()));
    pickedFolder = backup.folder().string();
    click("backupPathChoose");
    QTest::keyClicks(find<QLineEdit>("secretField"), QString::fromStdString(kPassphrase));
    settle();
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text().toStdString(), *pickedFolder);
    click("openButton");
    finishWork();
    ASSERT_EQ(model.phase().kind, Kind::open) << model.problem().value_or("");
    EXPECT_EQ(find<QLineEdit>("secretField")->text(), "");  // the model let go of the secret
    auto rows = findAll<BackupRow>("backupRow");
    ASSERT_EQ(rows.size(), 2);
    QTest::mouseClick(rows[1], Qt::LeftButton, {}, QPoint(rows[1]->width() - 2, rows[1]->height() - 2));
    pickedFolder = (temp / "restored").string();
    click("restoreIntoChoose");
    settle();
    QTest::keyClick(find<QLineEdit>("restoreIntoField"), Qt::Key_Return);
    finishWork();
    ASSERT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
    EXPECT_EQ(find<QLabel>("reportSummary")->text().toStdString(), "1 file and 0 folders in " + *pickedFolder);
    EXPECT_TRUE(fs::exists(temp / "restored" / "old.txt") && !fs::exists(temp / "restored" / "new.txt"));
    click("showInFilesButton");
    EXPECT_EQ(shownFolders, std::vector{*pickedFolder});
    click("restoreSomethingElseButton");
    settle();
    EXPECT_TRUE(shown("chooseScreen"));
    EXPECT_TRUE(findAll<BackupRow>("backupRow")[1]->isChosen());
}

// While the worker restores, the window goes on applying the model's changes and the person
// goes on typing; nothing waits for the other and every change lands. Closing the window
// meanwhile keeps it, says it will close when the restore has finished, and closes it then.
TEST_F(RestoreWindowTest, TheWindowKeepsWorkingWhileTheModelWorksAndClosesAfterIt) {
    auto backup = testing::TestBackup::create(temp / "backup", kPassphrase);
    std::vector<testing::TestFile> files;  // many enough that opening and restoring take a while
    for (int i = 0; i < 1000; ++i) files.push_back({"f/" + std::to_string(i) + ".txt", std::string(200 + i, 'x')});
    for (int s = 0; s < 6; ++s) backup.commit(files, at(1600000000.0 + s));
    model.setBackupPath(backup.folder().string());
    model.setSecret(kPassphrase);
    model.open();
    finishWork();
    model.setRestoreInto((temp / "restored").string());
    settle();
    click("restoreButton");
    EXPECT_FALSE(window->close());
    EXPECT_EQ(find<QLabel>("closingNote")->text(), "Wendle Marsh Restore will close when the restore has finished.");
    EXPECT_TRUE(window->isVisible() && shown("closingNote"));
    click("restoreButton");  // a second press while the restore runs starts nothing
    for (int round = 0; model.isRunning(); ++round) {
        QApplication::processEvents();
        model.setBackupPath((temp / "typed" / std::to_string(round)).string());
        (void)window->shownState().phase.isBusy();
    }
    finishWork();
    ASSERT_EQ(model.phase().kind, Kind::finished) << model.problem().value_or("");
    EXPECT_EQ(model.phase().result.filesRestored, 1000u);
    EXPECT_FALSE(window->isVisible());
    // The window shows the model's last state, not one that a later change overtook.
    EXPECT_EQ(window->shownState().revision, model.state().revision);
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text().toStdString(), model.backupPath());
}

}  // namespace
}  // namespace wm

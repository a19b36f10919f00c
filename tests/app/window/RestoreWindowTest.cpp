#include <QAccessible>
#include <QScrollArea>
#include <QToolButton>
#include <map>

#include "app/window/WindowFixture.h"
#include "support/DataTable.h"
#include "ui/Style.h"
#include "ui/SymbolPainter.h"

namespace wm {
namespace {

using testing::backupRows;
using Phase = RestoreAppModel::Phase;

class RestoreWindowTest : public testing::WindowFixture {};

RestoreCoordinator::Result resultWith(int failures, int skipped = 0) {
    RestoreCoordinator::Result result;
    result.filesRestored = 3;
    result.directoriesRestored = 2;
    for (int i = 0; i < failures; ++i) {
        result.failures.push_back({"folder/file " + std::to_string(i), "that name is not safe to write to disk"});
    }
    for (int i = 0; i < skipped; ++i) result.skipped.push_back({"pipe " + std::to_string(i), "this was a named pipe"});
    return result;
}

TEST_F(RestoreWindowTest, TheFixedTextsReadAsWritten) {
    EXPECT_EQ(window->width(), 660);
    EXPECT_EQ(window->windowTitle(), "Wendle Marsh Restore");
    EXPECT_FALSE(window->windowIcon().isNull());
    for (const auto& [background, text] : {std::pair{QColor(239, 239, 239), QColor(Qt::black)},
                                           std::pair{QColor(30, 30, 30), QColor(Qt::white)}}) {
        QPalette palette;
        palette.setColor(QPalette::Window, background);
        palette.setColor(QPalette::WindowText, text);
        EXPECT_GE(Style::contrast(TextStyles::secondary(palette), background), 4.5) << background.name().toStdString();
    }
    // Labels by their text, fields by their placeholder, buttons by their title.
    auto textOf = [&](const std::string& name) {
        QWidget* widget = find(name.c_str());
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text().toStdString();
        if (auto* field = qobject_cast<QLineEdit*>(widget)) return field->placeholderText().toStdString();
        return qobject_cast<QPushButton*>(widget)->text().toStdString();
    };
    const auto rows = test::dataTable(test::dataFile("app/window-texts.tsv"), 2, '\t');
    for (const auto& row : rows) EXPECT_EQ(textOf(row.at(0)), row.at(1));
    EXPECT_EQ(rows.size(), 13u);
    QStringList fieldLabels;
    for (auto* label : findAll<QLabel>("fieldLabel")) fieldLabels << label->text();
    fieldLabels.sort();
    EXPECT_EQ(fieldLabels, (QStringList{"Passphrase or recovery key", "Put the files here", "Where the backup is",
                                        "Which backup"}));
    EXPECT_EQ(find<SymbolLabel>("problemLine")->symbol(), "exclamationmark.triangle");
}

// Each phase shows its screen, enables its own controls and shows the problem line.
TEST_F(RestoreWindowTest, EachPhaseShowsItsScreenAndEnablesItsOwnControls) {
    struct Case {
        const char* name;
        Phase phase;
        const char* screen;
        bool fillFields, openEnabled, openBusy, restoreEnabled, restoreBusy, fieldsEnabled;
    };
    const Case cases[] = {
        {"closed, blank fields", Phase::closed(), "openForm", false, false, false, false, false, true},
        {"closed, filled fields", Phase::closed(), "openForm", true, true, false, true, false, true},
        {"opening", Phase::opening(), "openForm", true, false, true, false, false, false},
        {"open", Phase::open(), "chooseScreen", true, true, false, true, false, true},
        {"restoring", Phase::restoring(), "chooseScreen", true, false, false, false, true, false},
        {"finished", Phase::finished(resultWith(0), "/r"), "reportScreen", true, true, false, true, false, true},
    };
    model.showForScreenshot(backupRows(2));
    for (const auto& c : cases) {
        model.setBackupPath(c.fillFields ? "/media/backup" : "  ");
        model.setSecret(c.fillFields ? "secret words" : "\t");
        model.setRestoreInto(c.fillFields ? "/home/you/Restored" : " ");
        model.setPhase(c.phase);
        settle();
        SCOPED_TRACE(c.name);
        for (const char* screen : {"openForm", "chooseScreen", "reportScreen"}) {
            EXPECT_EQ(shown(screen), std::string(screen) == c.screen) << screen;
        }
        EXPECT_EQ(find("openButton")->isEnabled(), c.openEnabled);
        EXPECT_EQ(shown("openBusy"), c.openBusy);
        EXPECT_EQ(find("restoreButton")->isEnabled(), c.restoreEnabled);
        EXPECT_EQ(shown("restoreBusy"), c.restoreBusy);
        EXPECT_EQ(shown("restoreBusyText"), c.restoreBusy);
        for (const char* field : {"backupPathField", "secretField", "restoreIntoField", "backupPathChoose",
                                  "restoreIntoChoose"}) {
            EXPECT_EQ(find(field)->isEnabled(), c.fieldsEnabled) << field;
        }
        for (auto* row : findAll<BackupRow>("backupRow")) EXPECT_EQ(row->isEnabled(), c.fieldsEnabled);
        EXPECT_FALSE(shown("problemLine"));
        model.setProblem("The drive went away.");
        settle();
        EXPECT_TRUE(shown("problemLine"));
        EXPECT_EQ(find<SymbolLabel>("problemLine")->text(), "The drive went away.");
        model.setProblem(std::nullopt);
    }
}

TEST_F(RestoreWindowTest, TheEyeButtonKeepsTheText) {
    auto* secret = find<QLineEdit>("secretField");
    auto* eye = find<QToolButton>("revealButton");
    QTest::keyClicks(secret, "abc def");
    for (const bool shownText : {false, true, false}) {
        EXPECT_EQ(secret->echoMode(), shownText ? QLineEdit::Normal : QLineEdit::Password);
        EXPECT_EQ(eye->accessibleName(), shownText ? "Hide what you typed" : "Show what you typed");
        EXPECT_EQ(eye->property("wmSymbol").toString(), shownText ? "eye.slash" : "eye");
        EXPECT_EQ(model.secret(), secret->text().toStdString());
        if (shownText) QTest::keyClicks(secret, "!");
        QTest::mouseClick(eye, Qt::LeftButton);
        settle();
    }
    EXPECT_EQ(secret->text(), "abc def!");
}

// From five backups on the list scrolls in 232 points, so the window stops growing.
TEST_F(RestoreWindowTest, FromFiveBackupsOnTheListScrollsInAFixedHeight) {
    std::map<int, int> heights;
    for (const int rows : {1, 4, 5, 12}) {
        model.showForScreenshot(backupRows(rows));
        settle();
        SCOPED_TRACE(rows);
        EXPECT_EQ(findAll<BackupRow>("backupRow").size(), rows);
        EXPECT_EQ(findAll("backupDivider").size(), rows - 1);
        auto* scroll = find<QScrollArea>("backupScroll");
        EXPECT_EQ(scroll != nullptr, rows >= 5);
        EXPECT_EQ(scroll ? scroll->height() : 232, 232);
        heights[rows] = window->height();
    }
    EXPECT_GT(heights[4], heights[1]);
    EXPECT_EQ(heights[5], heights[12]);
    model.setProblem("Something went wrong.");
    settle();
    EXPECT_GT(window->height(), heights[12]);
}

// Anywhere on a row chooses it: its empty end, its top padding, its texts; the chosen row
// carries the filled mark in the accent colour.
TEST_F(RestoreWindowTest, AClickOnARowsEmptyEndOrPaddingChoosesIt) {
    const auto rows = backupRows(3);
    model.showForScreenshot(rows);
    settle();
    ASSERT_EQ(model.chosen(), rows[0].id);
    auto list = findAll<BackupRow>("backupRow");
    ASSERT_EQ(list.size(), 3);
    auto* date = list[0]->findChild<QWidget*>("backupDate");
    const struct {
        QWidget* target;
        QPoint point;
        int row;
    } clicks[] = {
        {list[2], QPoint(list[2]->width() - 3, list[2]->height() / 2), 2},
        {list[1], QPoint(list[1]->width() / 2, 2), 1},
        {date, QPoint(2, date->height() / 2), 0},
    };
    const QColor accent = Style::accent(Style::appearance(window->palette()));
    for (const auto& c : clicks) {
        QTest::mouseClick(c.target, Qt::LeftButton, {}, c.point);
        EXPECT_EQ(model.chosen(), rows[c.row].id) << c.row;
        settle();
        for (int i = 0; i < 3; ++i) {
            const auto* mark = list[i]->findChild<SymbolView*>("backupMark");
            EXPECT_EQ(list[i]->isChosen(), i == c.row);
            EXPECT_EQ(mark->symbol(), i == c.row ? "largecircle.fill.circle" : "circle");
            EXPECT_EQ(mark->colour() == accent, i == c.row);
        }
    }
}

// Tab reaches the list, the arrow keys move the choice, Space or Return chooses the row with
// the focus (Return does not start the restore); each row is a radio button to assistive
// technology, named by its date and detail and checked when chosen.
TEST_F(RestoreWindowTest, TheBackupRowsWorkFromTheKeyboardAndSpeakAsRadioButtons) {
    const auto rows = backupRows(3);
    model.showForScreenshot(rows);
    model.setRestoreInto("/home/you/Restored");
    settle();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto list = findAll<BackupRow>("backupRow");
    find("restoreButton")->setFocus();
    for (int i = 0; i < 10 && !qobject_cast<BackupRow*>(QApplication::focusWidget()); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    ASSERT_EQ(QApplication::focusWidget(), list[0]);
    const struct {
        Qt::Key key;
        int focused;  // the row to give the focus first, or -1
        int chosen;
    } presses[] = {{Qt::Key_Down, -1, 1}, {Qt::Key_Down, -1, 2}, {Qt::Key_Up, -1, 1},
                   {Qt::Key_Space, 0, 0}, {Qt::Key_Return, 2, 2}};
    for (const auto& p : presses) {
        if (p.focused >= 0) list[p.focused]->setFocus();
        QTest::keyClick(QApplication::focusWidget(), p.key);
        settle();
        EXPECT_EQ(model.chosen(), rows[p.chosen].id) << p.key;
        for (int i = 0; i < 3; ++i) {
            QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(list[i]);
            ASSERT_NE(spoken, nullptr);
            EXPECT_EQ(spoken->role(), QAccessible::RadioButton);
            EXPECT_EQ(bool(spoken->state().checked), i == p.chosen);
            EXPECT_EQ(spoken->text(QAccessible::Name),
                      list[i]->findChild<QLabel*>("backupDate")->text() + ", " +
                          list[i]->findChild<QLabel*>("backupDetail")->text());
        }
    }
    EXPECT_EQ(model.phase().kind, Phase::Kind::open);
}

// Enabled, a main button is filled with the accent and titled in the colour drawn on it;
// disabled, it is still a filled button, but not in the accent.
TEST_F(RestoreWindowTest, TheMainActionIsFilledWithTheAccent) {
    const Style::Appearance appearance = Style::appearance(window->palette());
    auto paint = [&](const char* name) {
        const QImage image = find(name)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRgb window = this->window->palette().color(QPalette::Window).rgb();
        int accent = 0, titled = 0, bare = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                accent += image.pixel(x, y) == Style::accent(appearance).rgb();
                titled += image.pixel(x, y) == Style::onAccent(appearance).rgb();
                bare += image.pixel(x, y) == window;
            }
        }
        const int half = image.width() * image.height() / 2;
        EXPECT_LT(bare, half) << name << " is not filled";
        return std::pair{accent > half, titled > 0};
    };
    model.showForScreenshot(backupRows(2));
    model.setRestoreInto("/home/you/Restored");
    settle();
    ASSERT_TRUE(find("restoreButton")->isEnabled());
    EXPECT_EQ(paint("restoreButton"), std::pair(true, true));

    model.setPhase(Phase::closed());
    settle();
    ASSERT_FALSE(find("openButton")->isEnabled());
    EXPECT_FALSE(paint("openButton").first);
    model.setBackupPath("/media/backup");
    model.setSecret("words");
    settle();
    EXPECT_EQ(paint("openButton"), std::pair(true, true));
}

// A line cut short shows its whole text as its tooltip; a line that fits has none.
TEST_F(RestoreWindowTest, NineFailuresShowEightLinesAndOneMore) {
    RestoreCoordinator::Result result = resultWith(9, 8);
    result.failures[1].path = std::string(300, 'n');
    model.setPhase(Phase::finished(result, "/home/you/Restored"));
    settle();
    const auto failures = find("failuresList")->findChildren<ElidedLabel*>("detailLine");
    EXPECT_EQ(failures[0]->toolTip(), "");
    EXPECT_EQ(failures[1]->toolTip(), QString::fromStdString(result.failures[1].path + ": " + result.failures[1].reason));
    EXPECT_NE(failures[1]->shownText(), failures[1]->toolTip());
    const struct {
        const char* list;
        const char* heading;
        const char* more;  // nullptr: no such line
    } lists[] = {
        {"failuresList", "Could not be put back (9)", "and 1 more"},
        {"skippedList", "In the backup, deliberately not recreated (8)", nullptr},
    };
    for (const auto& l : lists) {
        auto* list = find(l.list);
        ASSERT_NE(list, nullptr) << l.list;
        EXPECT_EQ(list->findChild<QLabel*>("detailHeading")->text(), l.heading);
        EXPECT_EQ(list->findChildren<QLabel*>("detailLine").size(), 8);
        auto* more = list->findChild<QLabel*>("detailMore");
        EXPECT_EQ(more ? more->text().toStdString() : "", l.more ? l.more : "");
    }
    EXPECT_EQ(find("skippedList")->findChildren<QLabel*>("detailLine")[0]->text(), "pipe 0: this was a named pipe");
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->text(), "Some of your files are back");
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->symbol(), "exclamationmark.triangle.fill");
    EXPECT_EQ(find<QLabel>("reportSummary")->text(), "3 files and 2 folders in /home/you/Restored");
}

TEST_F(RestoreWindowTest, ACompleteRestoreWithSkippedAndUnpreservedEntriesIsStillBack) {
    RestoreCoordinator::Result result = resultWith(0, 1);
    result.unpreserved = {{"b", "ownership", "not running as root"},
                          {"a", "acl", "not supported"},
                          {"c", "ownership", "not running as root"},
                          {"d", "mode", "partly applied: x"}};
    model.setPhase(Phase::finished(result, "/home/you/Restored"));
    settle();
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->text(), "Your files are back");
    EXPECT_EQ(find<SymbolLabel>("reportHeadline")->symbol(), "checkmark.circle.fill");
    EXPECT_EQ(find("failuresList"), nullptr);
    EXPECT_NE(find("skippedList"), nullptr);
    EXPECT_EQ(find<QLabel>("unpreservedLine")->text(),
              "Restored, but these could not be put back exactly: acl, mode, ownership");
}

// The folder picker and the file manager are reached only through the platform seam.
TEST_F(RestoreWindowTest, ThePickerAndTheFileManagerGoThroughThePlatform) {
    click("backupPathChoose");  // cancelled: nothing is written
    EXPECT_EQ(pickerCalls, 1);
    EXPECT_EQ(model.backupPath(), "");
    pickedFolder = "/media/you/Backup Drive";
    click("backupPathChoose");
    EXPECT_EQ(model.backupPath(), "/media/you/Backup Drive");
    settle();
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text(), "/media/you/Backup Drive");

    model.showForScreenshot(backupRows(2));
    settle();
    pickedFolder = "/home/you/Restored";
    click("restoreIntoChoose");
    EXPECT_EQ(model.restoreInto(), "/home/you/Restored");
    EXPECT_EQ(model.backupPath(), "/media/you/Backup Drive");

    model.setPhase(Phase::finished(resultWith(0), "/home/you/Restored"));
    settle();
    click("showInFilesButton");
    EXPECT_EQ(shownFolders, std::vector<std::string>{"/home/you/Restored"});
}

// Return does nothing while the action is disabled; then it opens (there is no backup there,
// so the open comes back with a problem and keeps the secret).
TEST_F(RestoreWindowTest, ReturnInTheSecretFieldOpensTheBackup) {
    auto* secret = find<QLineEdit>("secretField");
    QTest::keyClick(secret, Qt::Key_Return);
    finishWork();
    EXPECT_EQ(model.phase().kind, Phase::Kind::closed);
    EXPECT_FALSE(model.problem().has_value());

    model.setBackupPath(::testing::TempDir() + "/no backup here");
    QTest::keyClicks(secret, "some words");
    settle();
    QTest::keyClick(secret, Qt::Key_Return);
    finishWork();
    EXPECT_EQ(model.phase().kind, Phase::Kind::closed);
    ASSERT_TRUE(model.problem().has_value());
    EXPECT_TRUE(shown("problemLine"));
    EXPECT_EQ(model.secret(), "some words");
}

}  // namespace
}  // namespace wm

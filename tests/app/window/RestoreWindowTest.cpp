#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include "app/window/BackupRow.h"
#include "app/window/Widgets.h"
#include "app/window/WindowFixture.h"
#include "ui/Style.h"
#include "ui/SymbolPainter.h"

namespace wm {
namespace {

using testing::backupRow;
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

TEST_F(RestoreWindowTest, TheColumnIsSixHundredSixtyWideAndTitled) {
    settle();
    EXPECT_EQ(window->width(), 660);
    EXPECT_EQ(window->windowTitle(), "Wendle Marsh Restore");
    EXPECT_EQ(window->objectName(), "restore");
}

TEST_F(RestoreWindowTest, TheFixedTextsReadAsWritten) {
    settle();
    EXPECT_EQ(find<QLabel>("title")->text(), "Wendle Marsh Restore");
    EXPECT_EQ(find<QLabel>("subtitle")->text(),
              "Put your files back from a Wendle Marsh backup, with nothing but the drive and your passphrase. "
              "This app never changes the backup it reads.");
    QStringList labels;
    for (auto* label : findAll<QLabel>("fieldLabel")) labels << label->text();
    labels.sort();
    EXPECT_EQ(labels, (QStringList{"Passphrase or recovery key", "Put the files here", "Where the backup is",
                                   "Which backup"}));
    EXPECT_EQ(find<QLineEdit>("backupPathField")->placeholderText(), "Choose a folder");
    EXPECT_EQ(find<QLineEdit>("restoreIntoField")->placeholderText(), "Choose a folder");
    EXPECT_EQ(find<QLineEdit>("secretField")->placeholderText(), "Your passphrase, or XXXXX-XXXXX-XXXXX-...");
    EXPECT_EQ(find<QLabel>("helpLine")->text(),
              "Whichever you have. Wendle Marsh stores neither and cannot recover either for you.");
    EXPECT_EQ(find<QLabel>("restoreBusyText")->text(), "Putting your files back...");
    const std::pair<const char*, const char*> buttons[] = {
        {"backupPathChoose", "Choose..."},     {"restoreIntoChoose", "Choose..."},
        {"openButton", "Open Backup"},         {"restoreButton", "Restore"},
        {"showInFinderButton", "Show in Finder"}, {"restoreSomethingElseButton", "Restore Something Else"},
    };
    for (const auto& [name, title] : buttons) EXPECT_EQ(find<QPushButton>(name)->text(), title) << name;
    EXPECT_EQ(find<SymbolLabel>("problemLine")->symbol(), "exclamationmark.triangle");
}

TEST_F(RestoreWindowTest, EachPhaseEnablesItsOwnControls) {
    struct Case {
        const char* name;
        Phase phase;
        bool fillFields;
        bool openEnabled;
        bool openBusy;
        bool restoreEnabled;
        bool restoreBusy;
        bool fieldsEnabled;
    };
    const Case cases[] = {
        {"closed, blank fields", Phase::closed(), false, false, false, false, false, true},
        {"closed, filled fields", Phase::closed(), true, true, false, true, false, true},
        {"opening", Phase::opening(), true, false, true, false, false, false},
        {"open", Phase::open(), true, true, false, true, false, true},
        {"restoring", Phase::restoring(), true, false, false, false, true, false},
    };
    model.showForScreenshot(backupRows(2));
    for (const auto& c : cases) {
        model.setBackupPath(c.fillFields ? "/media/backup" : "  ");
        model.setSecret(c.fillFields ? "secret words" : "\t");
        model.setRestoreInto(c.fillFields ? "/home/you/Restored" : " ");
        model.setPhase(c.phase);
        settle();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find<QPushButton>("openButton")->isEnabled(), c.openEnabled);
        EXPECT_EQ(shown(find("openBusy")), c.openBusy);
        EXPECT_EQ(find<QPushButton>("restoreButton")->isEnabled(), c.restoreEnabled);
        EXPECT_EQ(shown(find("restoreBusy")), c.restoreBusy);
        EXPECT_EQ(shown(find("restoreBusyText")), c.restoreBusy);
        for (const char* field : {"backupPathField", "secretField", "restoreIntoField", "backupPathChoose",
                                  "restoreIntoChoose"}) {
            EXPECT_EQ(find(field)->isEnabled(), c.fieldsEnabled) << field;
        }
        for (auto* row : findAll<BackupRow>("backupRow")) EXPECT_EQ(row->isEnabled(), c.fieldsEnabled);
    }
}

TEST_F(RestoreWindowTest, ThePhaseChoosesTheScreen) {
    const std::pair<Phase, const char*> cases[] = {
        {Phase::closed(), "openForm"},   {Phase::opening(), "openForm"},
        {Phase::open(), "chooseScreen"}, {Phase::restoring(), "chooseScreen"},
        {Phase::finished(resultWith(0), "/home/you/Restored"), "reportScreen"},
    };
    for (const auto& [phase, screen] : cases) {
        model.setPhase(phase);
        settle();
        for (const char* name : {"openForm", "chooseScreen", "reportScreen"}) {
            EXPECT_EQ(shown(find(name)), std::string(name) == screen) << screen << " / " << name;
        }
    }
}

TEST_F(RestoreWindowTest, TypingReachesTheModel) {
    settle();
    QTest::keyClicks(find<QLineEdit>("backupPathField"), "/media/Backup");
    QTest::keyClicks(find<QLineEdit>("secretField"), "horse battery");
    EXPECT_EQ(model.backupPath(), "/media/Backup");
    EXPECT_EQ(model.secret(), "horse battery");
    settle();
    // The field keeps what was typed after the model's change comes back.
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text(), "/media/Backup");
    EXPECT_TRUE(find<QPushButton>("openButton")->isEnabled());

    model.showForScreenshot(backupRows(1));
    settle();
    QTest::keyClicks(find<QLineEdit>("restoreIntoField"), "/home/you/Back");
    EXPECT_EQ(model.restoreInto(), "/home/you/Back");
}

TEST_F(RestoreWindowTest, TheEyeButtonKeepsTheText) {
    settle();
    auto* secret = find<QLineEdit>("secretField");
    auto* eye = find<QToolButton>("revealButton");
    QTest::keyClicks(secret, "abc def");
    EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
    EXPECT_EQ(eye->accessibleName(), "Show what you typed");
    EXPECT_EQ(eye->property("wmSymbol").toString(), "eye");

    QTest::mouseClick(eye, Qt::LeftButton);
    settle();
    EXPECT_EQ(secret->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(secret->text(), "abc def");
    EXPECT_EQ(model.secret(), "abc def");
    EXPECT_EQ(eye->accessibleName(), "Hide what you typed");
    EXPECT_EQ(eye->property("wmSymbol").toString(), "eye.slash");

    QTest::keyClicks(secret, "!");
    QTest::mouseClick(eye, Qt::LeftButton);
    EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
    EXPECT_EQ(secret->text(), "abc def!");
    EXPECT_EQ(model.secret(), "abc def!");
}

TEST_F(RestoreWindowTest, FromFiveBackupsOnTheListScrollsInAFixedHeight) {
    struct Case {
        int rows;
        bool scrolls;
    };
    for (const Case c : {Case{1, false}, Case{4, false}, Case{5, true}, Case{12, true}}) {
        model.showForScreenshot(backupRows(c.rows));
        settle();
        SCOPED_TRACE(c.rows);
        EXPECT_EQ(findAll<BackupRow>("backupRow").size(), c.rows);
        EXPECT_EQ(findAll("backupDivider").size(), c.rows - 1);
        auto* scroll = find<QScrollArea>("backupScroll");
        EXPECT_EQ(scroll != nullptr, c.scrolls);
        if (scroll) {
            EXPECT_EQ(scroll->height(), 232);
        }
    }
}

TEST_F(RestoreWindowTest, TheHeightFollowsTheContentUntilTheListScrolls) {
    auto heightWith = [&](int rows) {
        model.showForScreenshot(backupRows(rows));
        settle();
        return window->height();
    };
    const int one = heightWith(1);
    const int four = heightWith(4);
    const int five = heightWith(5);
    const int nine = heightWith(9);
    EXPECT_GT(four, one);
    EXPECT_EQ(five, nine);
    model.setProblem("Something went wrong.");
    settle();
    EXPECT_GT(window->height(), nine);
}

TEST_F(RestoreWindowTest, AClickOnARowsEmptyEndOrPaddingChoosesIt) {
    const auto rows = backupRows(3);
    model.showForScreenshot(rows);
    settle();
    ASSERT_EQ(model.chosen(), rows[0].id);
    auto list = findAll<BackupRow>("backupRow");
    ASSERT_EQ(list.size(), 3);

    QTest::mouseClick(list[2], Qt::LeftButton, {}, QPoint(list[2]->width() - 3, list[2]->height() / 2));
    EXPECT_EQ(model.chosen(), rows[2].id);
    settle();
    EXPECT_TRUE(findAll<BackupRow>("backupRow")[2]->isChosen());
    EXPECT_FALSE(findAll<BackupRow>("backupRow")[0]->isChosen());

    // The top padding, above the texts, belongs to the row too.
    QTest::mouseClick(list[1], Qt::LeftButton, {}, QPoint(list[1]->width() / 2, 2));
    EXPECT_EQ(model.chosen(), rows[1].id);
    // And a click on the texts goes to the row.
    auto* date = list[0]->findChild<QWidget*>("backupDate");
    QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(2, date->height() / 2));
    EXPECT_EQ(model.chosen(), rows[0].id);
}

TEST_F(RestoreWindowTest, TheChosenRowCarriesTheAccentMark) {
    const auto rows = backupRows(2);
    model.showForScreenshot(rows);
    settle();
    auto list = findAll<BackupRow>("backupRow");
    auto* chosen = list[0]->findChild<SymbolView*>("backupMark");
    auto* other = list[1]->findChild<SymbolView*>("backupMark");
    EXPECT_EQ(chosen->symbol(), "largecircle.fill.circle");
    EXPECT_EQ(other->symbol(), "circle");
    EXPECT_EQ(chosen->colour(), Style::accent(Style::appearance(window->palette())));
    EXPECT_NE(other->colour(), chosen->colour());
}

TEST_F(RestoreWindowTest, TheMainActionIsFilledWithTheAccent) {
    const Style::Appearance appearance = Style::appearance(window->palette());
    // Counts the button's pixels in its fill colour and in the colour of its title.
    auto coloursOf = [](QWidget* button, const QColor& fill, const QColor& title) {
        const QImage image = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int filled = 0, titled = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                filled += image.pixel(x, y) == fill.rgb();
                titled += image.pixel(x, y) == title.rgb();
            }
        }
        return std::pair{filled * 2 > image.width() * image.height(), titled > 0};
    };
    model.showForScreenshot(backupRows(2));
    model.setRestoreInto("/home/you/Restored");
    settle();
    auto* restore = find<QPushButton>("restoreButton");
    ASSERT_TRUE(restore->isEnabled());
    EXPECT_EQ(coloursOf(restore, Style::accent(appearance), Style::onAccent(appearance)), std::pair(true, true));

    // Disabled, the open button is not drawn as an available action.
    model.setPhase(Phase::closed());
    settle();
    auto* open = find<QPushButton>("openButton");
    ASSERT_FALSE(open->isEnabled());
    EXPECT_FALSE(coloursOf(open, Style::accent(appearance), Style::onAccent(appearance)).first);
    model.setBackupPath("/media/backup");
    model.setSecret("words");
    settle();
    EXPECT_EQ(coloursOf(open, Style::accent(appearance), Style::onAccent(appearance)), std::pair(true, true));
}

TEST_F(RestoreWindowTest, NineFailuresShowEightLinesAndOneMore) {
    model.setPhase(Phase::finished(resultWith(9, 8), "/home/you/Restored"));
    settle();
    auto* failures = find("failuresList");
    ASSERT_NE(failures, nullptr);
    EXPECT_EQ(failures->findChild<QLabel*>("detailHeading")->text(), "Could not be put back (9)");
    EXPECT_EQ(failures->findChildren<QLabel*>("detailLine").size(), 8);
    ASSERT_NE(failures->findChild<QLabel*>("detailMore"), nullptr);
    EXPECT_EQ(failures->findChild<QLabel*>("detailMore")->text(), "and 1 more");

    auto* skipped = find("skippedList");
    ASSERT_NE(skipped, nullptr);
    EXPECT_EQ(skipped->findChild<QLabel*>("detailHeading")->text(),
              "In the backup, deliberately not recreated (8)");
    EXPECT_EQ(skipped->findChildren<QLabel*>("detailLine").size(), 8);
    EXPECT_EQ(skipped->findChild<QLabel*>("detailMore"), nullptr);
    EXPECT_EQ(skipped->findChildren<QLabel*>("detailLine")[0]->text(), "pipe 0: this was a named pipe");

    auto* headline = find<SymbolLabel>("reportHeadline");
    EXPECT_EQ(headline->text(), "Some of your files are back");
    EXPECT_EQ(headline->symbol(), "exclamationmark.triangle.fill");
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
    auto* headline = find<SymbolLabel>("reportHeadline");
    EXPECT_EQ(headline->text(), "Your files are back");
    EXPECT_EQ(headline->symbol(), "checkmark.circle.fill");
    EXPECT_EQ(find("failuresList"), nullptr);
    EXPECT_NE(find("skippedList"), nullptr);
    EXPECT_EQ(find<QLabel>("unpreservedLine")->text(),
              "Restored, but these could not be put back exactly: acl, mode, ownership");
}

TEST_F(RestoreWindowTest, TheProblemLineShowsInEveryPhase) {
    model.showForScreenshot(backupRows(1));
    for (const Phase& phase : {Phase::closed(), Phase::opening(), Phase::open(), Phase::restoring(),
                               Phase::finished(resultWith(1), "/x")}) {
        model.setPhase(phase);
        model.setProblem(std::nullopt);
        settle();
        EXPECT_FALSE(shown(find("problemLine")));
        model.setProblem("The drive went away.");
        settle();
        EXPECT_TRUE(shown(find("problemLine")));
        EXPECT_EQ(find<SymbolLabel>("problemLine")->text(), "The drive went away.");
    }
}

TEST_F(RestoreWindowTest, TheFolderPickerWritesOnlyAChosenFolder) {
    settle();
    pickedFolder = std::nullopt;
    QTest::mouseClick(find<QPushButton>("backupPathChoose"), Qt::LeftButton);
    EXPECT_EQ(pickerCalls, 1);
    EXPECT_EQ(model.backupPath(), "");

    pickedFolder = "/media/you/Backup Drive";
    QTest::mouseClick(find<QPushButton>("backupPathChoose"), Qt::LeftButton);
    EXPECT_EQ(model.backupPath(), "/media/you/Backup Drive");
    settle();
    EXPECT_EQ(find<QLineEdit>("backupPathField")->text(), "/media/you/Backup Drive");

    model.showForScreenshot(backupRows(1));
    settle();
    pickedFolder = "/home/you/Restored";
    QTest::mouseClick(find<QPushButton>("restoreIntoChoose"), Qt::LeftButton);
    EXPECT_EQ(model.restoreInto(), "/home/you/Restored");
    EXPECT_EQ(model.backupPath(), "/media/you/Backup Drive");
}

TEST_F(RestoreWindowTest, TheReportButtonsShowTheFolderAndStartAgain) {
    const auto rows = backupRows(2);
    model.showForScreenshot(rows);
    model.setChosen(rows[1].id);
    model.setPhase(Phase::finished(resultWith(0), "/home/you/Restored"));
    settle();
    QTest::mouseClick(find<QPushButton>("showInFinderButton"), Qt::LeftButton);
    EXPECT_EQ(shownFolders, std::vector<std::string>{"/home/you/Restored"});

    QTest::mouseClick(find<QPushButton>("restoreSomethingElseButton"), Qt::LeftButton);
    settle();
    EXPECT_EQ(model.phase().kind, Phase::Kind::open);
    EXPECT_EQ(model.chosen(), rows[1].id);
    EXPECT_TRUE(shown(find("chooseScreen")));
}

TEST_F(RestoreWindowTest, ReturnInTheSecretFieldOpensTheBackup) {
    const std::string missing = ::testing::TempDir() + "/no backup here";
    model.setBackupPath(missing);
    settle();
    QTest::keyClicks(find<QLineEdit>("secretField"), "some words");
    settle();
    QTest::keyClick(find<QLineEdit>("secretField"), Qt::Key_Return);
    window->waitForWork();
    settle();
    // There is no backup there: the open ran and came back with a problem.
    EXPECT_EQ(model.phase().kind, Phase::Kind::closed);
    ASSERT_TRUE(model.problem().has_value());
    EXPECT_TRUE(shown(find("problemLine")));
    EXPECT_EQ(model.secret(), "some words");
}

TEST_F(RestoreWindowTest, ReturnDoesNothingWhileTheActionIsDisabled) {
    settle();
    QTest::keyClick(find<QLineEdit>("secretField"), Qt::Key_Return);
    window->waitForWork();
    settle();
    EXPECT_EQ(model.phase().kind, Phase::Kind::closed);
    EXPECT_FALSE(model.problem().has_value());
}

}  // namespace
}  // namespace wm

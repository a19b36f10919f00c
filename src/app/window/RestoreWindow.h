#pragma once
// The restore window: one column 660 wide with the header, the screen of the model's
// phase (open form, choose and restore, report) and the problem line. It holds no
// restore logic: it writes what is typed and chosen into the model, runs the model's
// open and restore on a worker thread, and shows the model's changes, which arrive as
// whole states and are applied on this thread in order. The height follows the content.
#include <QWidget>
#include <atomic>
#include <functional>
#include <thread>

#include "app/RestoreAppModel.h"
#include "app/window/WindowPlatform.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace wm {

class BackupRow;
class BusyIndicator;
class ProminentButton;
class SymbolLabel;
class SymbolView;

class RestoreWindow : public QWidget {
public:
    static constexpr int columnWidth = 660;

    explicit RestoreWindow(RestoreAppModel& model, WindowPlatform platform = WindowPlatform::system(),
                           QWidget* parent = nullptr);
    ~RestoreWindow() override;

    // The state last applied.
    const RestoreAppModel::State& shownState() const { return shown_; }
    // The height the content asks for at the column width.
    int contentHeight() const;
    // Waits for a running open or restore to end (tests, and closing the window).
    void waitForWork();

    // The application's name, desktop file name and icon, as the Linux desktop shows them.
    static void setUpDesktopIdentity();
    static constexpr const char* desktopFileName = "wmrestore";

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    // While an open or a restore runs, the window stays, says it will close when the
    // work has finished, and closes then.
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildOpenForm();
    QWidget* buildChooseScreen();
    QWidget* buildReportScreen();
    QWidget* field(const QString& label, QWidget* content, const char* name);
    QWidget* folderRow(QLineEdit*& lineEdit, QPushButton*& choose, const char* fieldName, const char* buttonName,
                       const std::function<void(std::string)>& write);

    void apply(const RestoreAppModel::State& state);
    void applyStyle();
    void rebuildBackupList(const RestoreAppModel::State& state);
    void rebuildReport(const RestoreAppModel::Phase& phase);
    void fitHeight();
    void runInBackground(std::function<void()> job);
    void flipRevealing();

    RestoreAppModel& model_;
    WindowPlatform platform_;
    RestoreAppModel::State shown_;
    bool firstApply_ = true;
    bool revealing_ = false;
    std::atomic<std::uint64_t> newestPosted_{0};

    std::thread worker_;
    std::atomic<bool> workerRunning_{false};
    bool closeWhenDone_ = false;

    QVBoxLayout* column_ = nullptr;
    QWidget* openForm_ = nullptr;
    QWidget* chooseScreen_ = nullptr;
    QWidget* reportScreen_ = nullptr;
    SymbolLabel* problem_ = nullptr;
    QLabel* closingNote_ = nullptr;

    QLineEdit* backupPathField_ = nullptr;
    QPushButton* backupPathChoose_ = nullptr;
    QLineEdit* secretField_ = nullptr;
    QToolButton* revealButton_ = nullptr;
    ProminentButton* openButton_ = nullptr;
    BusyIndicator* openBusy_ = nullptr;

    QWidget* listHolder_ = nullptr;  // holds the list container, rebuilt with the rows
    QLineEdit* restoreIntoField_ = nullptr;
    QPushButton* restoreIntoChoose_ = nullptr;
    ProminentButton* restoreButton_ = nullptr;
    BusyIndicator* restoreBusy_ = nullptr;
    QLabel* restoreBusyText_ = nullptr;

    QWidget* reportHolder_ = nullptr;  // the report's content, rebuilt per result
    QPushButton* showInFilesButton_ = nullptr;
    QPushButton* startAgainButton_ = nullptr;
};

}  // namespace wm

#include "app/window/RestoreWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/WindowText.h"
#include "app/window/BackupRow.h"
#include "app/window/TextStyles.h"
#include "app/window/Widgets.h"
#include "core/Localization.h"
#include "ui/Style.h"

namespace wm {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// A text in the window's string table.
#define WM_Q(english) text(WM_L(english))

constexpr int kListScrollHeight = 232;
constexpr int kRowsBeforeScrolling = 5;
constexpr int kIconSide = 16;

QLabel* makeLabel(const QString& content, TextStyles::Role role, const char* name, QWidget* parent, bool wraps = true) {
    auto* label = new QLabel(content, parent);
    label->setObjectName(name);
    label->setFont(TextStyles::font(role));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wraps);
    return label;
}

void makeSecondary(QWidget* widget) {
    widget->setProperty("wmSecondary", true);
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText,
               TextStyles::secondary(widget->parentWidget() ? widget->parentWidget()->palette() : widget->palette()));
    widget->setPalette(p);
}

// The accent fill of the two buttons that carry the main action of their screen.
void makeProminent(ProminentButton* button, const QPalette& base) {
    const Style::Appearance appearance = Style::appearance(base);
    button->setColours(Style::accent(appearance), Style::onAccent(appearance));
}

bool samePhase(const RestoreAppModel::Phase& a, const RestoreAppModel::Phase& b) {
    if (a.kind != b.kind || a.into != b.into) return false;
    const auto& x = a.result;
    const auto& y = b.result;
    auto sameEntries = [](const auto& p, const auto& q, auto same) {
        if (p.size() != q.size() || p.total() != q.total()) return false;
        for (std::size_t i = 0; i < p.size(); ++i) {
            if (!same(p[i], q[i])) return false;
        }
        return true;
    };
    auto pathAndReason = [](const auto& e, const auto& f) { return e.path == f.path && e.reason == f.reason; };
    return x.filesRestored == y.filesRestored && x.directoriesRestored == y.directoriesRestored &&
           x.symlinksRestored == y.symlinksRestored && x.hardLinksRestored == y.hardLinksRestored &&
           sameEntries(x.failures, y.failures, pathAndReason) && sameEntries(x.skipped, y.skipped, pathAndReason) &&
           x.failures.stop().has_value() == y.failures.stop().has_value() &&
           (!x.failures.stop() || pathAndReason(*x.failures.stop(), *y.failures.stop())) &&
           sameEntries(x.unpreserved, y.unpreserved,
                       [](const auto& e, const auto& f) {
                           return e.path == f.path && e.attribute == f.attribute && e.reason == f.reason;
                       }) &&
           x.unpreserved.attributes() == y.unpreserved.attributes();  // also those named past the records kept
}

void setTextIfDifferent(QLineEdit* field, const std::string& value) {
    const QString wanted = text(value);
    if (field->text() != wanted) field->setText(wanted);
}

}  // namespace

RestoreWindow::RestoreWindow(RestoreAppModel& model, WindowPlatform platform, QWidget* parent)
    : QWidget(parent), model_(model), platform_(std::move(platform)) {
    setObjectName("restore");
    setWindowTitle(WM_Q("Wendle Marsh Restore"));

    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(28, 28, 28, 28);
    column_->setSpacing(20);
    column_->setAlignment(Qt::AlignTop);
    column_->addWidget(buildHeader());
    openForm_ = buildOpenForm();
    chooseScreen_ = buildChooseScreen();
    reportScreen_ = buildReportScreen();
    column_->addWidget(openForm_);
    column_->addWidget(chooseScreen_);
    column_->addWidget(reportScreen_);

    problem_ = new SymbolLabel("exclamationmark.triangle", TextStyles::Role::callout, this);
    problem_->setObjectName("problemLine");
    column_->addWidget(problem_);
    closingNote_ = makeLabel(QString(), TextStyles::Role::callout, "closingNote", this);
    closingNote_->hide();
    column_->addWidget(closingNote_);

    for (QLineEdit* lineEdit : findChildren<QLineEdit*>()) finishField(lineEdit);
    for (QPushButton* button : findChildren<QPushButton*>()) finishButton(button);
    setWindowIcon(QIcon(QPixmap::fromImage(SymbolPainter::applicationIcon(256))));
    applyStyle();

    // Changes arrive from whichever thread made them; each is applied here, in order,
    // and one that a newer change has already overtaken is passed over.
    model_.setObserver([this](RestoreAppModel::Property, const RestoreAppModel::State& state) {
        newestPosted_.store(state.revision);
        QMetaObject::invokeMethod(
            this,
            [this, state] {
                if (state.revision >= newestPosted_.load()) apply(state);
            },
            Qt::QueuedConnection);
    });
    apply(model_.state());
}

RestoreWindow::~RestoreWindow() {
    // No change may be posted to a window that is going away; then the work in flight
    // is allowed to end, so the model outlives nothing that uses it.
    model_.setObserver(nullptr);
    if (worker_.joinable()) worker_.join();
}

void RestoreWindow::waitForWork() {
    if (worker_.joinable()) worker_.join();
}

void RestoreWindow::setUpDesktopIdentity() {
    QGuiApplication::setApplicationDisplayName(WM_Q("Wendle Marsh Restore"));
    QGuiApplication::setDesktopFileName(desktopFileName);
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(SymbolPainter::applicationIcon(256))));
}

void RestoreWindow::closeEvent(QCloseEvent* event) {
    if (!workerRunning_.load()) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    closeWhenDone_ = true;
    closingNote_->setText(shown_.phase.kind == RestoreAppModel::Phase::Kind::opening
                              ? WM_Q("Wendle Marsh Restore will close when the backup has opened.")
                              : WM_Q("Wendle Marsh Restore will close when the restore has finished."));
    closingNote_->show();
}

// Building ------------------------------------------------------------------------------

QWidget* RestoreWindow::buildHeader() {
    auto* header = new QWidget(this);
    header->setObjectName("header");
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeLabel(WM_Q("Wendle Marsh Restore"), TextStyles::Role::title, "title", header, false));
    auto* subtitle = makeLabel(WM_Q("Put your files back from a Wendle Marsh backup, with nothing but the drive and "
                                    "your passphrase. This app never changes the backup it reads."),
                               TextStyles::Role::title3, "subtitle", header);
    layout->addWidget(subtitle);
    return header;
}

QWidget* RestoreWindow::field(const QString& label, QWidget* content, const char* name) {
    auto* block = new QWidget(this);
    block->setObjectName(name);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeLabel(label, TextStyles::Role::headline, "fieldLabel", block, false));
    content->setParent(block);
    layout->addWidget(content);
    return block;
}

QWidget* RestoreWindow::folderRow(QLineEdit*& lineEdit, QPushButton*& choose, const char* fieldName,
                                  const char* buttonName, const std::function<void(std::string)>& write) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    lineEdit = new QLineEdit(row);
    lineEdit->setObjectName(fieldName);
    lineEdit->setPlaceholderText(WM_Q("Choose a folder"));
    lineEdit->setFont(TextStyles::font(TextStyles::Role::body));
    choose = new QPushButton(WM_Q("Choose..."), row);
    choose->setObjectName(buttonName);
    layout->addWidget(lineEdit, 1);
    layout->addWidget(choose);
    QObject::connect(lineEdit, &QLineEdit::textEdited, this,
                     [write](const QString& value) { write(value.toStdString()); });
    QObject::connect(choose, &QPushButton::clicked, this, [this, write] {
        if (!platform_.pickFolder) return;
        if (auto folder = platform_.pickFolder(this)) write(*folder);
    });
    return row;
}

QWidget* RestoreWindow::buildOpenForm() {
    auto* screen = new QWidget(this);
    screen->setObjectName("openForm");
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    layout->addWidget(field(WM_Q("Where the backup is"),
                            folderRow(backupPathField_, backupPathChoose_, "backupPathField", "backupPathChoose",
                                      [this](std::string value) { model_.setBackupPath(std::move(value)); }),
                            "backupField"));

    auto* secretBlock = new QWidget(this);
    auto* secretLayout = new QVBoxLayout(secretBlock);
    secretLayout->setContentsMargins(0, 0, 0, 0);
    secretLayout->setSpacing(6);
    auto* secretRow = new QHBoxLayout();
    secretRow->setSpacing(6);
    secretField_ = new QLineEdit(secretBlock);
    secretField_->setObjectName("secretField");
    secretField_->setPlaceholderText(WM_Q("Your passphrase, or XXXXX-XXXXX-XXXXX-..."));
    secretField_->setEchoMode(QLineEdit::Password);
    secretField_->setFont(TextStyles::font(TextStyles::Role::body));
    QObject::connect(secretField_, &QLineEdit::textEdited, this,
                     [this](const QString& value) { model_.setSecret(value.toStdString()); });
    revealButton_ = new QToolButton(secretBlock);
    revealButton_->setObjectName("revealButton");
    revealButton_->setAutoRaise(true);
    revealButton_->setFocusPolicy(Qt::TabFocus);
    revealButton_->setIconSize(QSize(kIconSide, kIconSide));
    QObject::connect(revealButton_, &QToolButton::clicked, this, [this] { flipRevealing(); });
    secretRow->addWidget(secretField_, 1);
    secretRow->addWidget(revealButton_);
    secretLayout->addLayout(secretRow);
    auto* help = makeLabel(WM_Q("Whichever you have. Wendle Marsh stores neither and cannot recover either for you."),
                           TextStyles::Role::callout, "helpLine", secretBlock);
    secretLayout->addWidget(help);
    layout->addWidget(field(WM_Q("Passphrase or recovery key"), secretBlock, "secretBlock"));

    auto* actions = new QWidget(this);
    auto* actionsLayout = new QHBoxLayout(actions);
    actionsLayout->setContentsMargins(0, 0, 0, 0);
    openButton_ = new ProminentButton(WM_Q("Open Backup"), actions);
    openButton_->setObjectName("openButton");
    openButton_->setDefault(true);
    QObject::connect(openButton_, &QPushButton::clicked, this, [this] {
        if (!shown_.canOpen() || shown_.phase.isBusy()) return;
        runInBackground([this] { model_.open(); });
    });
    openBusy_ = new BusyIndicator(actions);
    openBusy_->setObjectName("openBusy");
    actionsLayout->addWidget(openButton_);
    actionsLayout->addWidget(openBusy_);
    actionsLayout->addStretch(1);
    layout->addWidget(actions);
    return screen;
}

QWidget* RestoreWindow::buildChooseScreen() {
    auto* screen = new QWidget(this);
    screen->setObjectName("chooseScreen");
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    listHolder_ = new QWidget(this);
    listHolder_->setObjectName("backupListHolder");
    auto* holderLayout = new QVBoxLayout(listHolder_);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field(WM_Q("Which backup"), listHolder_, "whichBackupField"));

    layout->addWidget(field(WM_Q("Put the files here"),
                            folderRow(restoreIntoField_, restoreIntoChoose_, "restoreIntoField", "restoreIntoChoose",
                                      [this](std::string value) { model_.setRestoreInto(std::move(value)); }),
                            "restoreIntoBlock"));

    auto* actions = new QWidget(this);
    auto* actionsLayout = new QHBoxLayout(actions);
    actionsLayout->setContentsMargins(0, 0, 0, 0);
    restoreButton_ = new ProminentButton(WM_Q("Restore"), actions);
    restoreButton_->setObjectName("restoreButton");
    restoreButton_->setDefault(true);
    QObject::connect(restoreButton_, &QPushButton::clicked, this, [this] {
        if (!shown_.canRestore() || shown_.phase.isBusy()) return;
        runInBackground([this] { model_.restore(); });
    });
    restoreBusy_ = new BusyIndicator(actions);
    restoreBusy_->setObjectName("restoreBusy");
    restoreBusyText_ =
        makeLabel(WM_Q("Putting your files back..."), TextStyles::Role::callout, "restoreBusyText", actions, false);
    actionsLayout->addWidget(restoreButton_);
    actionsLayout->addWidget(restoreBusy_);
    actionsLayout->addWidget(restoreBusyText_);
    actionsLayout->addStretch(1);
    layout->addWidget(actions);
    return screen;
}

QWidget* RestoreWindow::buildReportScreen() {
    auto* screen = new QWidget(this);
    screen->setObjectName("reportScreen");
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    reportHolder_ = new QWidget(screen);
    reportHolder_->setObjectName("reportContent");
    auto* holderLayout = new QVBoxLayout(reportHolder_);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    holderLayout->setSpacing(14);
    layout->addWidget(reportHolder_);

    auto* actions = new QWidget(screen);
    auto* actionsLayout = new QHBoxLayout(actions);
    actionsLayout->setContentsMargins(0, 0, 0, 0);
    showInFilesButton_ = new QPushButton(WM_Q("Show in Files"), actions);
    showInFilesButton_->setObjectName("showInFilesButton");
    QObject::connect(showInFilesButton_, &QPushButton::clicked, this, [this] {
        if (shown_.phase.kind == RestoreAppModel::Phase::Kind::finished && platform_.showInFileManager) {
            platform_.showInFileManager(shown_.phase.into);
        }
    });
    startAgainButton_ = new QPushButton(WM_Q("Restore Something Else"), actions);
    startAgainButton_->setObjectName("restoreSomethingElseButton");
    QObject::connect(startAgainButton_, &QPushButton::clicked, this, [this] { model_.startAgain(); });
    actionsLayout->addWidget(showInFilesButton_);
    actionsLayout->addWidget(startAgainButton_);
    actionsLayout->addStretch(1);
    layout->addWidget(actions);
    return screen;
}

// The backup list ---------------------------------------------------------------------

void RestoreWindow::rebuildBackupList(const RestoreAppModel::State& state) {
    auto* holderLayout = static_cast<QVBoxLayout*>(listHolder_->layout());
    while (QLayoutItem* item = holderLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }

    auto* box = new RoundedBox(listHolder_);
    box->setObjectName("backupList");
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(0);

    auto* rows = new QWidget();
    rows->setObjectName("backupRows");
    rows->setAutoFillBackground(false);
    auto* rowsLayout = new QVBoxLayout(rows);
    rowsLayout->setContentsMargins(14, 0, 14, 0);
    rowsLayout->setSpacing(0);
    for (std::size_t i = 0; i < state.backups.size(); ++i) {
        const auto& backup = state.backups[i];
        const SnapshotID id = backup.id;
        auto* row = new BackupRow(
            backup, state.chosen == id, [this, id] { model_.setChosen(id); }, rows);
        row->setEnabled(!state.phase.isBusy());
        rowsLayout->addWidget(row);
        if (i + 1 < state.backups.size()) {
            auto* divider = new QFrame(rows);
            divider->setObjectName("backupDivider");
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            // A hairline just darker (or lighter) than the list's background.
            QPalette p = divider->palette();
            const QColor base = palette().color(QPalette::Base);
            const QColor text = palette().color(QPalette::WindowText);
            p.setColor(QPalette::WindowText,
                       QColor::fromRgbF(static_cast<float>(base.redF() * 0.85 + text.redF() * 0.15),
                                        static_cast<float>(base.greenF() * 0.85 + text.greenF() * 0.15),
                                        static_cast<float>(base.blueF() * 0.85 + text.blueF() * 0.15)));
            divider->setPalette(p);
            rowsLayout->addWidget(divider);
        }
    }

    if (static_cast<int>(state.backups.size()) >= kRowsBeforeScrolling) {
        auto* scroll = new QScrollArea(box);
        scroll->setObjectName("backupScroll");
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        scroll->setFixedHeight(kListScrollHeight);
        scroll->viewport()->setAutoFillBackground(false);
        scroll->setWidget(rows);
        rows->setAutoFillBackground(false);
        boxLayout->addWidget(scroll);
    } else {
        rows->setParent(box);
        boxLayout->addWidget(rows);
    }
    holderLayout->addWidget(box);
}

// The report ------------------------------------------------------------------------

void RestoreWindow::rebuildReport(const RestoreAppModel::Phase& phase) {
    auto* holderLayout = static_cast<QVBoxLayout*>(reportHolder_->layout());
    while (QLayoutItem* item = holderLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (phase.kind != RestoreAppModel::Phase::Kind::finished) return;
    const auto& result = phase.result;

    auto* headline = new SymbolLabel(result.isComplete() ? "checkmark.circle.fill" : "exclamationmark.triangle.fill",
                                     TextStyles::Role::title2, reportHolder_);
    headline->setObjectName("reportHeadline");
    headline->setText(text(WindowText::headline(result)));
    const auto named = result.isComplete() ? &Style::green : &Style::orange;
    const Style::Appearance appearance = Style::appearance(palette());
    headline->setColours(named(appearance, Style::Use::symbol), named(appearance, Style::Use::text));
    holderLayout->addWidget(headline);

    holderLayout->addWidget(makeLabel(text(WindowText::summary(result, phase.into)), TextStyles::Role::callout,
                                      "reportSummary", reportHolder_));

    auto addDetail = [&](const char* name, const std::string& title, const std::vector<std::string>& lines,
                         std::uint64_t total) {
        const WindowText::Detail detail = WindowText::detail(title, lines, total);
        auto* block = new QWidget(reportHolder_);
        block->setObjectName(name);
        auto* layout = new QVBoxLayout(block);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        layout->addWidget(makeLabel(text(detail.heading), TextStyles::Role::headline, "detailHeading", block, false));
        for (const auto& line : detail.lines) {
            auto* label = new ElidedLabel(block);
            label->setObjectName("detailLine");
            label->setFont(TextStyles::font(TextStyles::Role::caption));
            label->setText(text(line));
            makeSecondary(label);
            layout->addWidget(label);
        }
        if (!detail.more.empty()) {
            auto* more = makeLabel(text(detail.more), TextStyles::Role::caption, "detailMore", block, false);
            makeSecondary(more);
            layout->addWidget(more);
        }
        holderLayout->addWidget(block);
    };
    if (!result.failures.empty())
        addDetail("failuresList", WM_L("Could not be put back"), WindowText::failureLines(result),
                  result.failures.total());
    if (!result.skipped.empty()) {
        addDetail("skippedList", WM_L("In the backup, deliberately not recreated"), WindowText::skippedLines(result),
                  result.skipped.total());
    }
    if (!result.unpreserved.empty()) {
        auto* line = makeLabel(text(WindowText::unpreservedLine(result)), TextStyles::Role::callout, "unpreservedLine",
                               reportHolder_);
        makeSecondary(line);
        holderLayout->addWidget(line);
    }
}

// Applying the model ------------------------------------------------------------------

void RestoreWindow::apply(const RestoreAppModel::State& state) {
    if (!firstApply_ && state.revision < shown_.revision) return;
    using Kind = RestoreAppModel::Phase::Kind;
    const bool busy = state.phase.isBusy();
    const Kind kind = state.phase.kind;

    openForm_->setVisible(kind == Kind::closed || kind == Kind::opening);
    chooseScreen_->setVisible(kind == Kind::open || kind == Kind::restoring);
    reportScreen_->setVisible(kind == Kind::finished);

    setTextIfDifferent(backupPathField_, state.backupPath);
    setTextIfDifferent(secretField_, state.secret);
    setTextIfDifferent(restoreIntoField_, state.restoreInto);

    for (QWidget* control : std::initializer_list<QWidget*>{backupPathField_, backupPathChoose_, secretField_,
                                                            restoreIntoField_, restoreIntoChoose_}) {
        control->setEnabled(!busy);
    }
    openButton_->setEnabled(state.canOpen() && !busy);
    openBusy_->setVisible(kind == Kind::opening);
    restoreButton_->setEnabled(state.canRestore() && !busy);
    restoreBusy_->setVisible(kind == Kind::restoring);
    restoreBusyText_->setVisible(kind == Kind::restoring);

    if (firstApply_ || state.backups != shown_.backups) {
        rebuildBackupList(state);
    } else {
        for (BackupRow* row : listHolder_->findChildren<BackupRow*>()) {
            row->setChosen(state.chosen == row->id());
            row->setEnabled(!busy);
        }
    }
    if (firstApply_ || !samePhase(state.phase, shown_.phase)) rebuildReport(state.phase);

    problem_->setVisible(state.problem.has_value());
    problem_->setText(state.problem ? text(*state.problem) : QString());

    shown_ = state;
    firstApply_ = false;
    fitHeight();
}

void RestoreWindow::flipRevealing() {
    revealing_ = !revealing_;
    secretField_->setEchoMode(revealing_ ? QLineEdit::Normal : QLineEdit::Password);
    const char* symbol = revealing_ ? "eye.slash" : "eye";
    revealButton_->setIcon(
        QIcon(SymbolPainter::pixmap(symbol, TextStyles::secondary(palette()), kIconSide, devicePixelRatioF())));
    revealButton_->setProperty("wmSymbol", symbol);
    revealButton_->setAccessibleName(revealing_ ? WM_Q("Hide what you typed") : WM_Q("Show what you typed"));
}

void RestoreWindow::applyStyle() {
    const QPalette base = QApplication::palette(this);
    const Style::Appearance appearance = Style::appearance(base);
    QPalette tinted = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        tinted.setColor(group, QPalette::Highlight, Style::accent(appearance));
        tinted.setColor(group, QPalette::HighlightedText, Style::onAccent(appearance));
    }
    setPalette(tinted);

    makeProminent(openButton_, base);
    makeProminent(restoreButton_, base);
    for (QWidget* widget : findChildren<QWidget*>()) {
        if (widget->property("wmSecondary").toBool()) makeSecondary(widget);
    }
    for (const char* name : {"subtitle", "helpLine", "restoreBusyText", "closingNote"}) {
        if (auto* label = findChild<QLabel*>(name)) makeSecondary(label);
    }
    problem_->setColours(Style::orange(appearance, Style::Use::symbol), Style::orange(appearance, Style::Use::text));
    // Flip twice to redraw the eye in the current colours without changing the state.
    revealing_ = !revealing_;
    flipRevealing();
}

void RestoreWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyStyle();
        firstApply_ = true;  // rebuild the list and the report in the new colours
        apply(shown_);
    }
}

int RestoreWindow::contentHeight() const {
    QLayout* layout = this->layout();
    if (layout->hasHeightForWidth()) return layout->totalHeightForWidth(columnWidth);
    return layout->totalSizeHint().height();
}

void RestoreWindow::fitHeight() {
    column_->activate();
    const QSize wanted(columnWidth, contentHeight());
    if (minimumSize() != wanted || maximumSize() != wanted) setFixedSize(wanted);
}

bool RestoreWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // Widgets added to a shown window appear a moment later; the height follows them.
    if (event->type() == QEvent::LayoutRequest) fitHeight();
    return handled;
}

void RestoreWindow::keyPressEvent(QKeyEvent* event) {
    // Return starts the main action of the screen on show, when it may run.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QPushButton* action = !openForm_->isHidden()       ? openButton_
                              : !chooseScreen_->isHidden() ? restoreButton_
                                                           : nullptr;
        if (action && action->isEnabled()) {
            action->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void RestoreWindow::runInBackground(std::function<void()> job) {
    // One operation at a time; the model would ignore a second one anyway.
    if (workerRunning_.load()) return;
    if (worker_.joinable()) worker_.join();
    workerRunning_.store(true);
    worker_ = std::thread([this, job = std::move(job)] {
        job();
        workerRunning_.store(false);
        // Posted after the job's last change, so the window has shown the outcome by then.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (closeWhenDone_) close();
            },
            Qt::QueuedConnection);
    });
}

}  // namespace wm

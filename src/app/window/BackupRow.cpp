#include "app/window/BackupRow.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/WindowText.h"
#include "ui/Style.h"

namespace wm {

BackupRow::BackupRow(const RestoreAppModel::Backup& backup, bool chosen, std::function<void()> choose,
                     QWidget* parent)
    : QWidget(parent), id_(backup.id), chosen_(chosen), choose_(std::move(choose)) {
    setObjectName("backupRow");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(10);

    const int markSide = QFontMetrics(TextStyles::font(TextStyles::Role::body)).height();
    mark_ = new SymbolView("circle", TextStyles::secondary(palette()), markSide, this);
    mark_->setObjectName("backupMark");
    layout->addWidget(mark_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    auto* date = new QLabel(QString::fromStdString(WindowText::dateLine(backup.createdAt)), this);
    date->setObjectName("backupDate");
    date->setFont(TextStyles::font(TextStyles::Role::body));
    date->setTextFormat(Qt::PlainText);
    auto* detail = new ElidedLabel(this);
    detail->setObjectName("backupDetail");
    detail->setFont(TextStyles::font(TextStyles::Role::caption));
    detail->setText(QString::fromStdString(WindowText::detailLine(backup)));
    QPalette secondary = detail->palette();
    secondary.setColor(QPalette::WindowText, TextStyles::secondary(palette()));
    detail->setPalette(secondary);
    texts->addWidget(date);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);

    // One element for assistive technology: the date, then the counts.
    setAccessibleName(date->text());
    setAccessibleDescription(QString::fromStdString(WindowText::accessibilityValue(backup)));
    updateMark();
}

void BackupRow::setChosen(bool chosen) {
    if (chosen == chosen_) return;
    chosen_ = chosen;
    updateMark();
}

void BackupRow::updateMark() {
    mark_->setSymbol(chosen_ ? "largecircle.fill.circle" : "circle");
    mark_->setColour(chosen_ ? Style::accent(Style::appearance(palette())) : TextStyles::secondary(palette()));
}

void BackupRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled()) {
        pressed_ = true;
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void BackupRow::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        event->accept();
        if (choose_) choose_();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void BackupRow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) updateMark();
    QWidget::changeEvent(event);
}

}  // namespace wm

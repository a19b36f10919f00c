#include "app/window/BackupRow.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/WindowText.h"
#include "ui/Style.h"

namespace wm {

BackupRow::BackupRow(const RestoreAppModel::Backup& backup, bool chosen, std::function<void()> choose, QWidget* parent)
    : QAbstractButton(parent), id_(backup.id) {
    setObjectName("backupRow");
    setCheckable(true);
    setAutoExclusive(true);
    setChecked(chosen);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QObject::connect(this, &QAbstractButton::clicked, this, [choose = std::move(choose)] {
        if (choose) choose();
    });
    // Checked by a click, an arrow key or the model: the mark follows.
    QObject::connect(this, &QAbstractButton::toggled, this, [this] { updateMark(); });

    auto* layout = new QHBoxLayout(this);
    // A little room on the sides for the focus ring.
    layout->setContentsMargins(4, 8, 4, 8);
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
    // The texts are the row's own; presses on them are the row's.
    for (QWidget* child : {static_cast<QWidget*>(mark_), static_cast<QWidget*>(date), static_cast<QWidget*>(detail)}) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    texts->addWidget(date);
    texts->addWidget(detail);
    layout->addLayout(texts, 1);

    setAccessibleName(date->text() + ", " + detail->text());
    updateMark();
}

void BackupRow::setChosen(bool chosen) {
    if (chosen || !isChecked()) {
        setChecked(chosen);
        return;
    }
    // The checked row of a group refuses to be unchecked on its own; the model may choose none.
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(true);
}

QSize BackupRow::sizeHint() const { return layout()->sizeHint(); }

QSize BackupRow::minimumSizeHint() const { return layout()->minimumSize(); }

bool BackupRow::hitButton(const QPoint& position) const { return rect().contains(position); }

void BackupRow::updateMark() {
    mark_->setSymbol(isChecked() ? "largecircle.fill.circle" : "circle");
    mark_->setColour(isChecked() ? Style::accent(Style::appearance(palette())) : TextStyles::secondary(palette()));
}

void BackupRow::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    // The keyboard focus: a rounded ring in the accent colour around the row.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Style::accent(Style::appearance(palette())), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
}

void BackupRow::keyPressEvent(QKeyEvent* event) {
    // Return chooses like Space, and does not go on to start the screen's main action.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat()) click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void BackupRow::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    // A row reached by the keyboard inside the scrolling list is scrolled into view.
    for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
        if (auto* scroll = qobject_cast<QScrollArea*>(up)) {
            scroll->ensureWidgetVisible(this, 0, 8);
            break;
        }
    }
}

void BackupRow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) updateMark();
    QAbstractButton::changeEvent(event);
}

}  // namespace wm

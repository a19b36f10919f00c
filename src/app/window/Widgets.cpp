#include "app/window/Widgets.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace wm {

// ElidedLabel ---------------------------------------------------------------------------

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize ElidedLabel::minimumSizeHint() const { return {0, fontMetrics().height()}; }

QSize ElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(text()), fontMetrics().height()}; }

void ElidedLabel::setText(const QString& text) {
    QLabel::setText(text);
    updateToolTip();
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::updateToolTip() { setToolTip(shownText() == text() ? QString() : text()); }

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

// SymbolLabel ---------------------------------------------------------------------------

SymbolLabel::SymbolLabel(std::string symbol, TextStyles::Role role, QWidget* parent) : QWidget(parent) {
    const QFont font = TextStyles::font(role);
    const int side = QFontMetrics(font).height();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    symbol_ = new SymbolView(std::move(symbol), palette().color(QPalette::WindowText), side, this);
    symbol_->setObjectName("symbol");
    text_ = new QLabel(this);
    text_->setObjectName("text");
    text_->setFont(font);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    layout->addWidget(symbol_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
}

void SymbolLabel::setText(const QString& text) { text_->setText(text); }

QString SymbolLabel::text() const { return text_->text(); }

void SymbolLabel::setSymbol(std::string symbol) { symbol_->setSymbol(std::move(symbol)); }

void SymbolLabel::setColours(const QColor& symbol, const QColor& text) {
    symbol_->setColour(symbol);
    QPalette p = text_->palette();
    p.setColor(QPalette::WindowText, text);
    text_->setPalette(p);
}

QColor SymbolLabel::textColour() const { return text_->palette().color(QPalette::WindowText); }

// BusyIndicator -------------------------------------------------------------------------

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
    setFixedSize(16, 16);
    timer_.setInterval(80);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = QRectF(rect()).adjusted(2, 2, -2, -2);
    QPen track(TextStyles::secondary(palette()), 2);
    track.setCapStyle(Qt::RoundCap);
    painter.setPen(track);
    painter.setOpacity(0.35);
    painter.drawEllipse(box);
    painter.setOpacity(1.0);
    painter.drawArc(box, -angle_ * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent*) { timer_.start(); }

void BusyIndicator::hideEvent(QHideEvent*) { timer_.stop(); }

// ProminentButton -----------------------------------------------------------------------

ProminentButton::ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

void ProminentButton::setColours(const QColor& fill, const QColor& text) {
    fill_ = fill;
    text_ = text;
    update();
}

void ProminentButton::paintEvent(QPaintEvent* event) {
    if (!fill_.isValid()) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (!isEnabled()) {
        // A faint fill of the text colour over the window, and the disabled text colour.
        const QColor window = palette().color(QPalette::Window);
        const QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
        constexpr float share = 0.12f;
        const QColor muted = QColor::fromRgbF(window.redF() + (ink.redF() - window.redF()) * share,
                                              window.greenF() + (ink.greenF() - window.greenF()) * share,
                                              window.blueF() + (ink.blueF() - window.blueF()) * share);
        painter.setPen(Qt::NoPen);
        painter.setBrush(muted);
        painter.drawRoundedRect(box, 5, 5);
        painter.setPen(palette().color(QPalette::Disabled, QPalette::ButtonText));
        painter.setFont(font());
        painter.drawText(box, Qt::AlignCenter | Qt::TextShowMnemonic, text());
        return;
    }
    if (hasFocus()) {
        // The keyboard focus shows as a ring just outside the fill.
        painter.setPen(QPen(fill_.darker(150), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? fill_.darker(115) : fill_);
    painter.drawRoundedRect(box, 5, 5);
    painter.setPen(text_);
    painter.setFont(font());
    painter.drawText(box, Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

// Finishing -----------------------------------------------------------------------------

void finishField(QLineEdit* field) {
    field->setTextMargins(6, 3, 6, 3);
    field->setMinimumHeight(field->fontMetrics().height() + 14);
}

void finishButton(QPushButton* button) {
    const QFontMetrics metrics = button->fontMetrics();
    constexpr int leastWidth = 96;
    constexpr int sidePadding = 16;
    button->setMinimumSize(std::max(leastWidth, metrics.horizontalAdvance(button->text()) + 2 * sidePadding),
                           metrics.height() + 14);
}

// RoundedBox ----------------------------------------------------------------------------

RoundedBox::RoundedBox(QWidget* parent) : QWidget(parent) {}

void RoundedBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

}  // namespace wm

#pragma once
// Small widgets of the restore window.
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <string>

#include "app/window/TextStyles.h"
#include "ui/SymbolPainter.h"

namespace wm {

// One line of text, shortened in the middle when it does not fit. text() stays whole.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // The text as it is drawn at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A symbol followed by wrapping text, the symbol as tall as the text's first line.
class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    SymbolLabel(std::string symbol, TextStyles::Role role, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;
    void setSymbol(std::string symbol);
    const std::string& symbol() const { return symbol_->symbol(); }
    void setColour(const QColor& colour);
    QColor colour() const { return symbol_->colour(); }

private:
    SymbolView* symbol_;
    QLabel* text_;
};

// The small spinning indicator shown while a backup opens or a restore runs.
class BusyIndicator : public QWidget {
public:
    explicit BusyIndicator(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
    int angle_ = 0;
};

// The button of a screen's main action, filled with the accent colour and labelled in
// the colour meant for content on it. Disabled, it looks like any disabled button.
class ProminentButton : public QPushButton {
    Q_OBJECT

public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);
    void setColours(const QColor& fill, const QColor& text);
    QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
    QColor text_;
};

// A rounded background in the colour of controls, behind the backup list.
class RoundedBox : public QWidget {
public:
    explicit RoundedBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace wm

#pragma once
// Small widgets of the restore window.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <string>

#include "app/window/TextStyles.h"
#include "ui/SymbolPainter.h"

namespace wm {

// One line of text, shortened in the middle when it does not fit. text() stays whole, and
// a shortened line shows it whole as its tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // The text as it is drawn at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
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
    // The symbol and the text each in their own shade.
    void setColours(const QColor& symbol, const QColor& text);
    QColor colour() const { return symbol_->colour(); }
    QColor textColour() const;

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
// the colour meant for content on it. Disabled, it is still a filled button, in the
// muted colours of a disabled control.
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

// The inner padding of a text field and the padding and least width of a push button, the
// same for every one in the window.
void finishField(QLineEdit* field);
void finishButton(QPushButton* button);

// A rounded background in the colour of controls, behind the backup list.
class RoundedBox : public QWidget {
public:
    explicit RoundedBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace wm

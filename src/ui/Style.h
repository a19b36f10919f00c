#pragma once
// The product's two shared colours, and the orange and green that mark problems and
// success. Each has a light and a dark shade; which one is drawn follows the appearance,
// and the appearance is read from a palette: dark when the window colour is darker than
// the window text.
#include <QColor>
#include <QPalette>

namespace wm {

class Style {
public:
    enum class Appearance { light, dark };

    // The tint of the window, and the mark of the chosen backup.
    static QColor accent();
    // The colour of content drawn on an accent fill.
    static QColor onAccent();

    static QColor accent(Appearance appearance);
    static QColor onAccent(Appearance appearance);

    // Where a named colour is drawn: a symbol, or text that carries meaning.
    enum class Use { symbol, text };
    // Warnings and problems.
    static QColor orange(Appearance appearance, Use use);
    // Something that went well.
    static QColor green(Appearance appearance, Use use);

    // The contrast ratio of two opaque colours, from 1 (the same) to 21 (black on white).
    // Text that carries meaning needs at least 4.5 against its background.
    static double contrast(const QColor& a, const QColor& b);

    static Appearance appearance(const QPalette& palette);
    // The appearance of the application's palette (light when there is no application).
    static Appearance currentAppearance();

    Style() = delete;
};

}  // namespace wm

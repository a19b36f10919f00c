#pragma once
// The product's two shared colours. Each has a light and a dark shade; which one is
// drawn follows the appearance, and the appearance is read from a palette: dark when
// the window colour is darker than the window text.
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

    static Appearance appearance(const QPalette& palette);
    // The appearance of the application's palette (light when there is no application).
    static Appearance currentAppearance();

    Style() = delete;
};

}  // namespace wm

#pragma once
// The text styles and the few named colours of the restore window.
#include <QColor>
#include <QFont>
#include <QPalette>

namespace wm::TextStyles {

enum class Role { body, callout, caption, headline, title, title2, title3 };

// The application font at the size and weight of the role.
QFont font(Role role);

// Text that is less important than the main text: between the text and the window colour.
QColor secondary(const QPalette& palette);
// Warnings and problems.
QColor orange(const QPalette& palette);
// A restore that put everything back.
QColor green(const QPalette& palette);

}  // namespace wm::TextStyles

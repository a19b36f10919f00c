#pragma once
// The text styles of the restore window, and its secondary text colour.
#include <QColor>
#include <QFont>
#include <QPalette>

namespace wm::TextStyles {

enum class Role { body, callout, caption, headline, title, title2, title3 };

// The application font at the size and weight of the role.
QFont font(Role role);

// Text that is less important than the main text: between the text and the window colour,
// still legible (4.5:1 or more against the window).
QColor secondary(const QPalette& palette);

}  // namespace wm::TextStyles

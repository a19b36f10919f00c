#include "ui/Style.h"

#include <QGuiApplication>
#include <algorithm>
#include <cmath>

namespace wm {

namespace {

// Each shade is made once; function-local statics make concurrent first reads safe.
const QColor& accentDark() {
    static const QColor c = QColor::fromRgb(121, 178, 255);
    return c;
}
const QColor& accentLight() {
    static const QColor c = QColor::fromRgb(18, 103, 217);
    return c;
}
const QColor& onAccentDark() {
    static const QColor c = QColor::fromRgb(11, 27, 51);
    return c;
}
const QColor& onAccentLight() {
    static const QColor c = QColor(Qt::white);
    return c;
}

}  // namespace

// The symbol shades are the product's orange and green. On a light window they are too
// light for text (about 2.5:1 and 2.7:1), so text takes a darker shade of the same hue
// that reaches at least 4.5:1 against a light window and against white. On a dark window
// the symbol shades already read well as text (about 6:1), so dark text keeps them.
QColor Style::orange(Appearance appearance, Use use) {
    if (appearance == Appearance::dark) return QColor(255, 159, 10);
    return use == Use::symbol ? QColor(230, 126, 0) : QColor(156, 86, 0);
}

QColor Style::green(Appearance appearance, Use use) {
    if (appearance == Appearance::dark) return QColor(48, 209, 88);
    return use == Use::symbol ? QColor(40, 167, 69) : QColor(28, 117, 48);
}

double Style::contrast(const QColor& a, const QColor& b) {
    // Relative luminance of sRGB components, as the web's accessibility guidelines define it.
    auto luminance = [](const QColor& c) {
        auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor Style::accent(Appearance appearance) { return appearance == Appearance::dark ? accentDark() : accentLight(); }

QColor Style::onAccent(Appearance appearance) {
    return appearance == Appearance::dark ? onAccentDark() : onAccentLight();
}

Style::Appearance Style::appearance(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    return window.lightness() < text.lightness() ? Appearance::dark : Appearance::light;
}

Style::Appearance Style::currentAppearance() {
    if (!QGuiApplication::instance()) return Appearance::light;
    return appearance(QGuiApplication::palette());
}

QColor Style::accent() { return accent(currentAppearance()); }

QColor Style::onAccent() { return onAccent(currentAppearance()); }

}  // namespace wm

#include "ui/Style.h"

#include <QGuiApplication>

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

QColor Style::accent(Appearance appearance) {
    return appearance == Appearance::dark ? accentDark() : accentLight();
}

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

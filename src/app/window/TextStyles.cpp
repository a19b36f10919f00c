#include "app/window/TextStyles.h"

#include <QApplication>

namespace wm::TextStyles {

QFont font(Role role) {
    QFont f = QApplication::font();
    int pixels = 13;
    QFont::Weight weight = QFont::Normal;
    switch (role) {
    case Role::body: pixels = 13; break;
    case Role::callout: pixels = 12; break;
    case Role::caption: pixels = 11; break;
    case Role::headline:
        pixels = 13;
        weight = QFont::DemiBold;
        break;
    case Role::title:
        pixels = 26;
        weight = QFont::DemiBold;
        break;
    case Role::title2: pixels = 17; break;
    case Role::title3: pixels = 15; break;
    }
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

QColor secondary(const QPalette& palette) {
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor window = palette.color(QPalette::Active, QPalette::Window);
    // Far enough towards the text to read at 4.5:1 or more on the window and on white.
    const double t = 0.6;
    return QColor::fromRgbF(static_cast<float>(text.redF() * t + window.redF() * (1 - t)),
                            static_cast<float>(text.greenF() * t + window.greenF() * (1 - t)),
                            static_cast<float>(text.blueF() * t + window.blueF() * (1 - t)));
}

}  // namespace wm::TextStyles

#include "ui/Style.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QPalette>

namespace wm {
namespace {

// The appearance comes from the application's palette (dark when the window is darker than its
// text, light when neither is), and the shades follow it.
TEST(StyleTest, TheShadesFollowTheAppearanceOfTheApplicationPalette) {
    struct Case {
        QColor window, text;
        Style::Appearance appearance;
        QColor accent, onAccent;
    };
    const Case cases[] = {
        {QColor(30, 30, 30), QColor(230, 230, 230), Style::Appearance::dark, QColor(121, 178, 255), QColor(11, 27, 51)},
        {QColor(240, 240, 240), QColor(0, 0, 0), Style::Appearance::light, QColor(18, 103, 217), QColor(255, 255, 255)},
        {QColor(128, 128, 128), QColor(128, 128, 128), Style::Appearance::light, QColor(18, 103, 217),
         QColor(255, 255, 255)},
    };
    const QPalette saved = QApplication::palette();
    for (const auto& c : cases) {
        QPalette palette;
        palette.setColor(QPalette::Window, c.window);
        palette.setColor(QPalette::WindowText, c.text);
        EXPECT_EQ(Style::appearance(palette), c.appearance) << c.window.name().toStdString();
        QApplication::setPalette(palette);
        EXPECT_EQ(std::pair(Style::accent().rgba(), Style::onAccent().rgba()),
                  std::pair(c.accent.rgba(), c.onAccent.rgba()))
            << c.window.name().toStdString();
    }
    QApplication::setPalette(saved);
}

// Text in orange or green reads at 4.5:1 or more on light and dark windows and on white; the
// symbol shades keep the hue of the text shades.
TEST(StyleTest, TextInTheNamedColoursIsLegible) {
    EXPECT_DOUBLE_EQ(Style::contrast(Qt::black, Qt::white), 21.0);
    const struct {
        Style::Appearance appearance;
        QColor background;
    } backgrounds[] = {{Style::Appearance::light, QColor(239, 239, 239)},
                       {Style::Appearance::light, Qt::white},
                       {Style::Appearance::dark, QColor(53, 53, 53)},
                       {Style::Appearance::dark, QColor(30, 30, 30)}};
    for (const auto& b : backgrounds)
        for (auto named : {&Style::orange, &Style::green}) {
            const QColor text = named(b.appearance, Style::Use::text);
            EXPECT_GE(Style::contrast(text, b.background), 4.5)
                << text.name().toStdString() << " on " << b.background.name().toStdString();
            EXPECT_NEAR(text.hueF(), named(b.appearance, Style::Use::symbol).hueF(), 0.02);
        }
}

}  // namespace
}  // namespace wm

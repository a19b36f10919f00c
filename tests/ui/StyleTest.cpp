#include "ui/Style.h"

#include <QApplication>
#include <QPalette>
#include <gtest/gtest.h>

namespace wm {
namespace {

struct Shade {
    Style::Appearance appearance;
    QColor accent;
    QColor onAccent;
};

TEST(StyleTest, EachAppearanceHasItsOwnShades) {
    const Shade shades[] = {
        {Style::Appearance::dark, QColor(121, 178, 255), QColor(11, 27, 51)},
        {Style::Appearance::light, QColor(18, 103, 217), QColor(255, 255, 255)},
    };
    for (const auto& shade : shades) {
        EXPECT_EQ(Style::accent(shade.appearance).rgba(), shade.accent.rgba());
        EXPECT_EQ(Style::onAccent(shade.appearance).rgba(), shade.onAccent.rgba());
        EXPECT_EQ(Style::accent(shade.appearance).alpha(), 255);
    }
}

QPalette paletteWith(QColor window, QColor text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(StyleTest, TheAppearanceIsReadFromThePalette) {
    EXPECT_EQ(Style::appearance(paletteWith(QColor(30, 30, 30), QColor(230, 230, 230))), Style::Appearance::dark);
    EXPECT_EQ(Style::appearance(paletteWith(QColor(240, 240, 240), QColor(0, 0, 0))), Style::Appearance::light);
    // A palette that says nothing either way counts as light.
    EXPECT_EQ(Style::appearance(paletteWith(QColor(128, 128, 128), QColor(128, 128, 128))), Style::Appearance::light);
}

TEST(StyleTest, TheCurrentColourFollowsTheApplicationPalette) {
    const QPalette saved = QApplication::palette();
    QApplication::setPalette(paletteWith(QColor(20, 20, 20), QColor(250, 250, 250)));
    EXPECT_EQ(Style::accent().rgb(), QColor(121, 178, 255).rgb());
    EXPECT_EQ(Style::onAccent().rgb(), QColor(11, 27, 51).rgb());
    QApplication::setPalette(paletteWith(QColor(250, 250, 250), QColor(20, 20, 20)));
    EXPECT_EQ(Style::accent().rgb(), QColor(18, 103, 217).rgb());
    EXPECT_EQ(Style::accent(), Style::accent());
    QApplication::setPalette(saved);
}

}  // namespace
}  // namespace wm

// The protection widget and the watch complication: what each family describes, and the
// shared renderer's images.
#include <gtest/gtest.h>
#include <QFontDatabase>

#include "statusviews/ComplicationView.h"
#include "statusviews/ProtectionWidgetView.h"
#include "ui/Style.h"

namespace wm {
namespace {

using ScreenStanding::Tone;
using StatusView::Appearance;
using StatusView::Colour;
using StatusView::Family;
using StatusView::Item;
using StatusView::TextStyle;

const Date now = Date::fromSeconds(1'796'000'000);
const Family allFamilies[] = {Family::systemSmall,       Family::systemMedium,         Family::systemLarge,
                              Family::accessoryCircular, Family::accessoryRectangular, Family::accessoryInline};
const WidgetState good{"You're protected", Tone::good, "checkmark.circle.fill", now.adding(-7200), 2, now.adding(-60)};

std::vector<std::string> texts(const StatusView::Description& description) {
    std::vector<std::string> out;
    for (const Item& item : description.items)
        if (!item.text.empty()) out.push_back(item.text);
    return out;
}

TEST(ProtectionWidgetViewTest, WhatEachFamilyShows) {
    const auto never = ProtectionWidgetView(WidgetState::nothingKnownYet(), now, Family::systemSmall).body();
    EXPECT_EQ(never.items.front().colour, Colour::secondary);
    EXPECT_EQ(texts(never), std::vector<std::string>{"Open Wendle Marsh"});
    EXPECT_EQ(texts(ProtectionWidgetView(good, now, Family::systemMedium).body()),
              (std::vector<std::string>{"You're protected", "Backed up 2 hours ago. 2 confirmed copies."}));
    WidgetState stale = good;
    stale.writtenAt = now.adding(-10'800);
    EXPECT_EQ(texts(ProtectionWidgetView(stale, now, Family::systemSmall).body()),
              (std::vector<std::string>{"You're protected", "Backed up 2 hours ago", "as of 3 hours ago"}));
    EXPECT_EQ(ProtectionWidgetView(good, now, Family::accessoryRectangular).body().items.at(0),
              Item::label("You're protected", "checkmark.circle.fill", TextStyle::headline, 2));
    EXPECT_EQ(ProtectionWidgetView(good, now, Family::accessoryCircular).body().items.at(0).accessibilityLabel,
              "You're protected");
}

TEST(ComplicationViewTest, WhatEachFamilyShows) {
    const auto& nothing = WatchSummary::Snapshot::nothingHeardYet();
    const std::string noWord = "No word from your iPhone yet. Open Wendle Marsh there to pair them.";
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryRectangular).body().items,
              (std::vector<Item>{Item::symbolImage("questionmark.circle", TextStyle::headline),
                                 Item::textLine(noWord, TextStyle::caption2, Colour::primary, 3)}));
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryCircular).body().items.at(0).accessibilityLabel, noWord);
    const auto fresh = WatchSummary::snapshot(good, now.adding(-60), now);
    EXPECT_EQ(ComplicationView(fresh, now, Family::accessoryRectangular).body().items,
              (std::vector<Item>{Item::label("OK", "checkmark.shield.fill", TextStyle::headline),
                                 Item::textLine("You're protected", TextStyle::caption2, Colour::primary, 3)}));
    // The snapshot's own summary stands, however late the view is drawn.
    EXPECT_EQ(ComplicationView(fresh, now.adding(86'400), Family::accessoryInline).body().items[0].text, "OK");
}

int pixelsNear(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                         std::abs(c.blue() - colour.blue()) <
                     12;
        }
    return count;
}

TEST(StatusViewRenderTest, ImagesOfTheFamilySizeInTheToneColour) {
    const WidgetState attention{"Check what changed", Tone::attention, "exclamationmark.triangle.fill", {}, 1, now};
    const auto watch = WatchSummary::snapshot(good, now.adding(-60), now);
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
        for (qreal scale : {1.0, 2.0})
            for (Family family : allFamilies)
                for (const QImage& image : {ProtectionWidgetView(good, now, family).render(appearance, scale),
                                            ComplicationView(watch, now, family).render(appearance, scale)}) {
                    EXPECT_EQ(image.size(), StatusView::pointSize(family) * scale) << StatusView::familyName(family);
                    EXPECT_LT(pixelsNear(image, StatusView::background(appearance)), image.width() * image.height());
                }
        const auto orange = StatusView::colour(Colour::orange, appearance);
        const QImage goodImage = ProtectionWidgetView(good, now, Family::systemSmall).render(appearance, 2);
        EXPECT_GT(pixelsNear(goodImage, StatusView::colour(Colour::green, appearance)), 100);
        EXPECT_EQ(pixelsNear(goodImage, orange), 0);
        EXPECT_GT(pixelsNear(ProtectionWidgetView(attention, now, Family::systemSmall).render(appearance, 2), orange),
                  100);
    }
}

// Without a font every text draws as nothing, and a picture could still pass a blank check.
TEST(StatusViewRenderTest, AFontIsInstalledAndAnUnknownSymbolIsABox) {
    ASSERT_FALSE(QFontDatabase::families().isEmpty()) << "no font found: install fonts-dejavu-core";
    const StatusView::Description description{0, {Item::symbolImage("no.such.symbol", TextStyle::title2)}};
    EXPECT_GT(pixelsNear(StatusView::render(description, Family::accessoryCircular, Appearance::light, 1), Qt::black),
              10);
}

TEST(StatusViewRenderTest, TextColoursAreLegible) {
    for (Appearance appearance : {Appearance::light, Appearance::dark})
        for (Colour text : {Colour::primary, Colour::secondary})
            EXPECT_GE(Style::contrast(StatusView::colour(text, appearance), StatusView::background(appearance)), 4.5);
}

}  // namespace
}  // namespace wm

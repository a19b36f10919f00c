// The protection widget and the watch complication: what each family describes, and the
// shared renderer's images.
#include <QFontDatabase>
#include <QFontInfo>
#include <gtest/gtest.h>

#include "ui/ComplicationView.h"
#include "ui/ProtectionWidgetView.h"

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
    using Size = WidgetSummary::Size;
    for (Family family : allFamilies)
        EXPECT_EQ(ProtectionWidgetView(good, now, family).summarySize(),
                  family == Family::accessoryCircular ? std::nullopt
                  : family == Family::systemSmall     ? std::optional(Size::small)
                                                      : std::optional(Size::medium));

    const auto never = ProtectionWidgetView(WidgetState::nothingKnownYet(), now, Family::systemSmall).body();
    EXPECT_EQ(never.items.front().symbol, "circle.dashed");
    EXPECT_EQ(never.items.front().colour, Colour::secondary);
    EXPECT_EQ(texts(never), std::vector<std::string>{"Open Wendle Marsh"});

    EXPECT_EQ(texts(ProtectionWidgetView(good, now, Family::systemMedium).body()),
              (std::vector<std::string>{"You're protected", "Backed up 2 hours ago. 2 confirmed copies."}));
    WidgetState stale = good;
    stale.writtenAt = now.adding(-10'800);
    EXPECT_EQ(texts(ProtectionWidgetView(stale, now, Family::systemSmall).body()),
              (std::vector<std::string>{"You're protected", "Backed up 2 hours ago", "as of 3 hours ago"}));

    const auto rectangular = ProtectionWidgetView(good, now, Family::accessoryRectangular).body();
    ASSERT_EQ(rectangular.items.size(), 2u);
    EXPECT_EQ(rectangular.items[0], Item::label("You're protected", "checkmark.circle.fill", TextStyle::headline, 2));
    EXPECT_EQ(rectangular.items[1].lineLimit, 1);

    const auto circular = ProtectionWidgetView(good, now, Family::accessoryCircular).body();
    ASSERT_EQ(circular.items.size(), 1u);
    EXPECT_EQ(circular.items[0].accessibilityLabel, "You're protected");
}

TEST(ComplicationViewTest, WhatEachFamilyShows) {
    const auto& nothing = WatchSummary::Snapshot::nothingHeardYet();
    const std::string noWord = "No word from your iPhone yet. Open Wendle Marsh there to pair them.";
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryInline).body().items,
              std::vector<Item>{Item::label("Not known", "questionmark.circle", TextStyle::headline, 1)});
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryRectangular).body().items,
              (std::vector<Item>{Item::symbolImage("questionmark.circle", TextStyle::headline),
                                 Item::textLine(noWord, TextStyle::caption2, Colour::primary, 3)}));
    const auto circular = ComplicationView(nothing, now, Family::accessoryCircular).body().items;
    ASSERT_EQ(circular.size(), 1u);
    EXPECT_EQ(circular[0].symbol, "questionmark.circle");
    EXPECT_EQ(circular[0].accessibilityLabel, noWord);

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
                         std::abs(c.blue() - colour.blue()) < 12;
        }
    return count;
}

TEST(StatusViewRenderTest, ImagesOfTheFamilySizeInTheToneColour) {
    ASSERT_FALSE(QFontDatabase::families().isEmpty());
    ASSERT_FALSE(QFontInfo(QFont()).family().isEmpty());
    const WidgetState attention{"Check what changed", Tone::attention, "exclamationmark.triangle.fill", {}, 1, now};
    const auto watch = WatchSummary::snapshot(good, now.adding(-60), now);
    for (Appearance appearance : {Appearance::light, Appearance::dark})
        for (qreal scale : {1.0, 2.0})
            for (Family family : allFamilies) {
                SCOPED_TRACE(std::string(StatusView::familyName(family)) + " " + std::to_string(scale));
                for (const QImage& image : {ProtectionWidgetView(good, now, family).render(appearance, scale),
                                            ComplicationView(watch, now, family).render(appearance, scale)}) {
                    EXPECT_EQ(image.size(), StatusView::pointSize(family) * scale);
                    EXPECT_LT(pixelsNear(image, StatusView::background(appearance)), image.width() * image.height());
                }
            }
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
        const auto green = StatusView::colour(Colour::green, appearance);
        const auto orange = StatusView::colour(Colour::orange, appearance);
        const QImage goodImage = ProtectionWidgetView(good, now, Family::systemSmall).render(appearance, 2);
        const QImage attentionImage = ProtectionWidgetView(attention, now, Family::systemSmall).render(appearance, 2);
        EXPECT_GT(pixelsNear(goodImage, green), 100);
        EXPECT_EQ(pixelsNear(goodImage, orange), 0);
        EXPECT_GT(pixelsNear(attentionImage, orange), 100);
    }
}

TEST(StatusViewRenderTest, EveryStatusSymbolIsDrawnAndAnUnknownOneIsABox) {
    for (const char* name : {"checkmark.circle.fill", "exclamationmark.triangle.fill", "circle.dashed",
                             "externaldrive.badge.xmark", "checkmark.shield.fill", "exclamationmark.shield.fill",
                             "questionmark.circle", "no.such.symbol"}) {
        const StatusView::Description description{0, {Item::symbolImage(name, TextStyle::title2)}};
        const QImage image = StatusView::render(description, Family::accessoryCircular, Appearance::light, 1);
        EXPECT_GT(pixelsNear(image, Qt::black), 10) << name;
    }
}

double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

TEST(StatusViewRenderTest, TextColoursAreLegible) {
    for (Appearance appearance : {Appearance::light, Appearance::dark})
        for (Colour text : {Colour::primary, Colour::secondary}) {
            const double a = luminance(StatusView::colour(text, appearance));
            const double b = luminance(StatusView::background(appearance));
            EXPECT_GE((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05), 4.5);
        }
}

}  // namespace
}  // namespace wm

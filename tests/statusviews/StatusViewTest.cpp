// The protection widget and the watch complication: what each family describes, and the
// shared renderer's images.
#include <gtest/gtest.h>
#include <QFontDatabase>
#include <QTransform>
#include <cctype>
#include <tuple>

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
    // The summary size asked for: small for the small family, none for the circular one, medium for the rest.
    for (const Family family : {Family::systemSmall, Family::systemMedium, Family::systemLarge,
                                Family::accessoryCircular, Family::accessoryRectangular, Family::accessoryInline})
        EXPECT_EQ(ProtectionWidgetView(good, now, family).summarySize(),
                  family == Family::systemSmall         ? std::optional(WidgetSummary::Size::small)
                  : family == Family::accessoryCircular ? std::nullopt
                                                        : std::optional(WidgetSummary::Size::medium))
            << static_cast<int>(family);
}

TEST(ComplicationViewTest, WhatEachFamilyShows) {
    const auto& nothing = WatchSummary::Snapshot::nothingHeardYet();
    const std::string noWord = "No word from your iPhone yet. Open Wendle Marsh there to pair them.";
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryRectangular).body().items,
              (std::vector<Item>{Item::symbolImage("questionmark.circle", TextStyle::headline),
                                 Item::textLine(noWord, TextStyle::caption2, Colour::primary, 3)}));
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryCircular).body().items.at(0).accessibilityLabel, noWord);
    EXPECT_EQ(ComplicationView(nothing, now, Family::accessoryInline).body().items,
              (std::vector<Item>{Item::label("Not known", "questionmark.circle", TextStyle::headline, 1)}));
    const auto fresh = WatchSummary::snapshot(good, now.adding(-60), now);
    EXPECT_EQ(ComplicationView(fresh, now, Family::accessoryRectangular).body().items,
              (std::vector<Item>{Item::label("OK", "checkmark.shield.fill", TextStyle::headline),
                                 Item::textLine("You're protected", TextStyle::caption2, Colour::primary, 3)}));
    // The snapshot's own summary stands, however late the view is drawn.
    EXPECT_EQ(ComplicationView(fresh, now.adding(86'400), Family::accessoryInline).body().items[0].text, "OK");
}

// Pixels near colour inside a region given in points.
int pixelsNear(const QImage& image, const QRectF& points, const QColor& colour) {
    const qreal scale = image.devicePixelRatio();
    const QRect region = QTransform::fromScale(scale, scale).mapRect(points).toRect() & image.rect();
    int count = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            count += std::abs(qRed(c) - colour.red()) + std::abs(qGreen(c) - colour.green()) +
                         std::abs(qBlue(c) - colour.blue()) <
                     12;
        }
    return count;
}

// The words are drawn where each family puts them: the headline or title, and the staleness
// note at the bottom of the system sizes even under a headline that would fill the widget;
// the symbol in the tone's colour; the circular families draw nothing but their symbol,
// inside the middle two thirds.
TEST(StatusViewRenderTest, EachFamilyDrawsItsWordsWhereTheyBelong) {
    WidgetState stale = good, flooded = good;
    stale.writtenAt = flooded.writtenAt = now.adding(-5 * 3600.0);
    for (int i = 0; i < 40; ++i) flooded.headline += " and check what changed on the drive";
    const WidgetState attention{"Check what changed", Tone::attention, "exclamationmark.triangle.fill", {}, 1, now};
    const auto snapshot = WatchSummary::snapshot(good, now.adding(-60), now);
    const QRectF symbol(16, 16, 22, 22), headline(16, 46, 138, 16), note(16, 140, 138, 14), inlineText(21, 2, 211, 22),
        labelTitle(23, 4, 145, 16),
        circularBands[] = {{0, 0, 76, 12}, {0, 64, 76, 12}, {0, 0, 12, 76}, {64, 0, 12, 76}};
    for (Appearance a : {Appearance::light, Appearance::dark}) {
        auto widget = [&](const WidgetState& s, Family f) { return ProtectionWidgetView(s, now, f).render(a, 2); };
        auto watch = [&](Family f) { return ComplicationView(snapshot, now, f).render(a, 2); };
        const std::tuple<QImage, QRectF, Colour> rows[] = {
            {widget(stale, Family::systemSmall), headline, Colour::primary},
            {widget(stale, Family::systemSmall), note, Colour::secondary},
            {widget(flooded, Family::systemSmall), note, Colour::secondary},
            {widget(flooded, Family::systemMedium), note, Colour::secondary},
            {widget(flooded, Family::systemLarge), note.translated(0, 212), Colour::secondary},
            {widget(good, Family::systemSmall), symbol, Colour::green},
            {widget(attention, Family::systemSmall), symbol, Colour::orange},
            {widget(good, Family::accessoryRectangular), labelTitle, Colour::primary},
            {widget(stale, Family::accessoryInline), inlineText, Colour::primary},
            {watch(Family::accessoryRectangular), labelTitle, Colour::primary},
            {watch(Family::accessoryRectangular), QRectF(4, 24, 164, 40), Colour::primary},
            {watch(Family::accessoryInline), inlineText, Colour::primary},
        };
        for (std::size_t row = 0; row < std::size(rows); ++row) {
            const auto& [image, region, colour] = rows[row];
            EXPECT_GT(pixelsNear(image, region, StatusView::colour(colour, a)), 100) << row;
        }
        for (const QImage& circle : {widget(stale, Family::accessoryCircular), watch(Family::accessoryCircular)})
            for (const QRectF& band : circularBands)
                EXPECT_EQ(pixelsNear(circle, band, StatusView::background(a)), band.width() * band.height() * 4);
    }
}

// A text cut to its line limit ends after a whole word and an ellipsis, never inside a word.
TEST(StatusViewRenderTest, ATextIsCutAfterAWholeWord) {
    const std::string text = "Sicherung der Datensicherungen, Laufwerksverbindungen und Wiederherstellungen.";
    auto drawn = [](const std::string& line, int lineLimit) {
        return StatusView::render({0, {Item::textLine(line, TextStyle::caption, Colour::primary, lineLimit)}},
                                  Family::accessoryRectangular, Appearance::light, 1);
    };
    const QImage cut = drawn(text, 1);
    bool wholeWords = false;
    for (auto space = text.find(' '); space != std::string::npos; space = text.find(' ', space + 1)) {
        std::string words = text.substr(0, space);
        while (std::ispunct(static_cast<unsigned char>(words.back()))) words.pop_back();
        wholeWords = wholeWords || drawn(words + "\u2026", 0) == cut;
    }
    EXPECT_TRUE(wholeWords);
}

// Without a font every text draws as nothing, and a picture could still pass a blank check.
TEST(StatusViewRenderTest, AFontIsInstalledAndAnUnknownSymbolIsABox) {
    ASSERT_FALSE(QFontDatabase::families().isEmpty()) << "no font found: install fonts-dejavu-core";
    const StatusView::Description description{0, {Item::symbolImage("no.such.symbol", TextStyle::title2)}};
    EXPECT_GT(pixelsNear(StatusView::render(description, Family::accessoryCircular, Appearance::light, 1),
                         QRectF(0, 0, 76, 76), Qt::black),
              10);
}

TEST(StatusViewRenderTest, TextColoursAreLegible) {
    for (Appearance appearance : {Appearance::light, Appearance::dark})
        for (Colour text : {Colour::primary, Colour::secondary})
            EXPECT_GE(Style::contrast(StatusView::colour(text, appearance), StatusView::background(appearance)), 4.5);
}

}  // namespace
}  // namespace wm

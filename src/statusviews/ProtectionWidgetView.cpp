#include "statusviews/ProtectionWidgetView.h"

namespace wm {

using StatusView::Colour;
using StatusView::Family;
using StatusView::Item;
using StatusView::TextStyle;

std::optional<WidgetSummary::Size> ProtectionWidgetView::summarySize() const {
    if (family_ == Family::accessoryCircular) return std::nullopt;
    return family_ == Family::systemSmall ? WidgetSummary::Size::small : WidgetSummary::Size::medium;
}

std::optional<std::string> ProtectionWidgetView::detail() const {
    const auto size = summarySize();
    if (!size) return std::nullopt;
    const ScreenStanding::Headline standing{state_.headline, state_.tone, state_.symbol};
    return WidgetSummary::content(standing, state_.lastSuccess, state_.confirmedCopies, *size, date_).detail;
}

StatusView::Description ProtectionWidgetView::body() const {
    if (family_ == Family::accessoryCircular) {
        Item symbol = Item::symbolImage(state_.symbol, TextStyle::title2);
        symbol.accessibilityLabel = state_.headline;
        return {0, {symbol}};
    }
    const auto detailLine = detail();
    if (family_ == Family::accessoryRectangular) {
        StatusView::Description description{2, {Item::label(state_.headline, state_.symbol, TextStyle::headline, 2)}};
        if (detailLine)
            description.items.push_back(Item::textLine(*detailLine, TextStyle::caption, Colour::primary, 1));
        return description;
    }
    const Colour tint = state_.tone == ScreenStanding::Tone::good        ? Colour::green
                        : state_.tone == ScreenStanding::Tone::attention ? Colour::orange
                                                                         : Colour::secondary;
    Item symbol = Item::symbolImage(state_.symbol, TextStyle::title2, tint);
    symbol.hiddenFromAccessibility = true;
    StatusView::Description description{8, {symbol, Item::textLine(state_.headline, TextStyle::headline)}};
    if (detailLine) description.items.push_back(Item::textLine(*detailLine, TextStyle::caption, Colour::secondary));
    description.items.push_back(Item::spacer());
    // A record never written has no note: stalenessNote says nothing for it.
    if (const auto note = state_.stalenessNote(date_))
        description.items.push_back(Item::textLine(*note, TextStyle::caption2, Colour::secondary));
    return description;
}

}  // namespace wm

#include "statusviews/ComplicationView.h"

#include "core/Localization.h"

namespace wm {

using StatusView::Family;
using StatusView::Item;
using StatusView::TextStyle;
using WatchSummary::State;

StatusView::Description ComplicationView::body() const {
    const State summary = snapshot_.summary;
    const std::string sentence = snapshot_.sentence(date_);
    if (family_ == Family::accessoryCircular) {
        Item symbol = Item::symbolImage(WatchSummary::symbol(summary), TextStyle::title2);
        symbol.accessibilityLabel = sentence;
        return {0, {symbol}};
    }
    if (family_ == Family::accessoryInline) {
        // The unknown state has a title of its own: a bare "?" says nothing to a reader.
        const std::string title = summary == State::unknown ? WM_L("Not known") : WatchSummary::short_(summary);
        return {0, {Item::label(title, WatchSummary::symbol(summary), TextStyle::headline, 1)}};
    }
    StatusView::Description description{2, {}};
    if (summary == State::unknown) {
        description.items.push_back(Item::symbolImage("questionmark.circle", TextStyle::headline));
    } else {
        description.items.push_back(
            Item::label(WatchSummary::short_(summary), WatchSummary::symbol(summary), TextStyle::headline));
    }
    description.items.push_back(Item::textLine(sentence, TextStyle::caption2, StatusView::Colour::primary, 3));
    return description;
}

}  // namespace wm

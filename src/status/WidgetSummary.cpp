#include "status/WidgetSummary.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::WidgetSummary {

std::optional<std::string> stalenessNote(Date asOf, Date now) {
    if (now.timeIntervalSince(asOf) < staleAfter) return std::nullopt;
    return WM_L("as of %@", Phrasing::staleness(asOf, now));
}

Content content(const ScreenStanding::Headline& standing, const std::optional<Date>& lastSuccess, std::int64_t copies,
                Size size, Date now) {
    Content content{standing.text, std::nullopt, standing.tone == ScreenStanding::Tone::attention, now};
    if (size == Size::small) {
        if (lastSuccess) content.detail = WM_L("Backed up %@", Phrasing::staleness(*lastSuccess, now));
    } else if (!lastSuccess) {
        content.detail = WM_L("Never backed up.");
    } else {
        // The count is plain English joined to the sentence, not looked up itself.
        content.detail = WM_L("Backed up %@.", Phrasing::staleness(*lastSuccess, now)) + " " +
                         Phrasing::grouped(copies) + (copies == 1 ? " confirmed copy." : " confirmed copies.");
    }
    return content;
}

}  // namespace wm::WidgetSummary

#include "status/MenuBarSummary.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::MenuBarSummary {

std::string symbol(Icon icon) {
    switch (icon) {
    case Icon::protected_: return "checkmark.shield.fill";
    case Icon::working: return "arrow.triangle.2.circlepath";
    case Icon::needsAttention: return "exclamationmark.shield.fill";
    case Icon::idle: return "shield";
    }
    return "shield";
}

const Summary& nothingOpen() {
    static const Summary summary{Icon::idle, WM_L("No backup is open")};
    return summary;
}

Summary summary(const ScreenStanding::Headline& standing, bool isWorking, const std::optional<Date>& lastSuccess,
                Date now) {
    using ScreenStanding::Tone;
    if (isWorking) return {Icon::working, WM_L("Backing up...")};
    switch (standing.tone) {
    case Tone::good:
        if (!lastSuccess) return {Icon::protected_, WM_L("Protected")};
        return {Icon::protected_, WM_L("Backed up %@", Phrasing::relativeTime(*lastSuccess, now))};
    case Tone::neutral: return {Icon::idle, standing.text};
    case Tone::attention: return {Icon::needsAttention, standing.text};
    }
    return {Icon::idle, standing.text};
}

}  // namespace wm::MenuBarSummary

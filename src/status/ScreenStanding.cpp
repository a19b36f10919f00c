#include "status/ScreenStanding.h"

#include "core/Localization.h"

namespace wm::ScreenStanding {

std::string_view rawValue(Tone tone) {
    switch (tone) {
    case Tone::good: return "good";
    case Tone::neutral: return "neutral";
    case Tone::attention: return "attention";
    }
    return "neutral";
}

std::optional<Tone> toneFromRawValue(std::string_view raw) {
    for (Tone tone : {Tone::good, Tone::neutral, Tone::attention})
        if (rawValue(tone) == raw) return tone;
    return std::nullopt;
}

Headline headline(const Conditions& conditions) {
    constexpr const char* triangle = "exclamationmark.triangle.fill";
    if (conditions.driveReturningBadData)
        return {WM_L("This drive is not reliable"), Tone::attention, "externaldrive.badge.xmark"};
    if (conditions.backupRefused) return {WM_L("Backups are not working"), Tone::attention, triangle};
    const auto& schedule = conditions.schedule;
    if (schedule.needsAttention()) return {schedule.headline(), Tone::attention, triangle};
    if (conditions.unacknowledgedAnomaly) return {WM_L("Check what changed"), Tone::attention, triangle};
    if (schedule.isGood()) return {schedule.headline(), Tone::good, "checkmark.circle.fill"};
    return {schedule.headline(), Tone::neutral, "circle.dashed"};
}

}  // namespace wm::ScreenStanding

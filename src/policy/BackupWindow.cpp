#include "policy/BackupWindow.h"

#include "core/Localization.h"

namespace wm {
namespace {

std::string hourWords(std::int64_t h) {
    if (h == 0) return WM_L("midnight");
    if (h == 12) return WM_L("midday");
    if (h >= 1 && h <= 11) return WM_L("%lldam", h);
    // Stored hours are not validated; the subtraction wraps rather than overflowing.
    return WM_L("%lldpm", static_cast<std::int64_t>(static_cast<std::uint64_t>(h) - 12u));
}

}  // namespace

bool BackupWindow::allows(Date date, const Calendar& calendar) const {
    if (!enabled || startHour == endHour) return true;
    const std::int64_t h = calendar.hour(date);
    if (startHour < endHour) return startHour <= h && h < endHour;
    return h >= startHour || h < endHour;
}

std::optional<std::string> BackupWindow::sentence(Date now, const Calendar& calendar) const {
    if (!enabled || startHour == endHour || allows(now, calendar)) return std::nullopt;
    return WM_L("Backups are set to run between %@ and %@. You can still back up now whenever you like.",
                hourWords(startHour), hourWords(endHour));
}

JSON BackupWindow::toJSON() const { return JSON{{"startHour", startHour}, {"endHour", endHour}, {"enabled", enabled}}; }

BackupWindow BackupWindow::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    return BackupWindow{int64(member(json, "startHour"), "startHour"), int64(member(json, "endHour"), "endHour"),
                        boolean(member(json, "enabled"), "enabled")};
}

}  // namespace wm

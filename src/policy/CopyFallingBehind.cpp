#include "policy/CopyFallingBehind.h"

#include <cmath>

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::CopyFallingBehind {

std::vector<Copy> fallenBehind(const std::vector<Copy>& copies, Date now, std::int64_t days) {
    const double threshold = static_cast<double>(days) * 86'400.0;
    std::vector<Copy> behind;
    for (const auto& copy : copies)
        if (copy.lastCurrent && now.timeIntervalSince(*copy.lastCurrent) >= threshold) behind.push_back(copy);
    return behind;
}

std::optional<std::string> sentence(const std::vector<Copy>& copies, Date now) {
    const auto behind = fallenBehind(copies, now, daysBeforeMentioning);
    if (behind.empty()) return std::nullopt;
    if (behind.size() == 1) {
        const double days = std::trunc(now.timeIntervalSince(*behind[0].lastCurrent) / 86'400.0);
        return WM_L("%@ has not kept up for %@. Until it does, what it holds is an older backup than this Mac has.",
                    behind[0].name, Phrasing::count(static_cast<std::int64_t>(days), "day"));
    }
    return WM_L(
        "%@ have not kept up with your backups. Until they do, what they hold is an older backup than this "
        "Mac has.",
        Phrasing::grouped(static_cast<std::int64_t>(behind.size())) + " of your copies");
}

}  // namespace wm::CopyFallingBehind

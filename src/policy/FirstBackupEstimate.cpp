#include "policy/FirstBackupEstimate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::FirstBackupEstimate {
namespace {

// The nearest whole number, halves away from zero, kept inside the 64-bit range.
std::int64_t nearest(double value) {
    const double r = std::round(value);
    if (r >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(r);
}

}  // namespace

double assumedRate(Destination destination) {
    switch (destination) {
    case Destination::localDrive: return 120'000'000;
    case Destination::networkShare: return 25'000'000;
    case Destination::cloudFolder: return 8'000'000;
    }
    return 8'000'000;
}

std::optional<std::string> sentence(std::int64_t bytes, Destination to) {
    if (bytes <= 0) return std::nullopt;
    const double t = static_cast<double>(bytes) / assumedRate(to);
    if (t <= 120) return std::nullopt;
    const std::string low = describe(0.6 * t), high = describe(2 * t);
    if (low == high)
        return WM_L(
            "The first backup will probably take about %@. Later ones only send what changed and are much "
            "quicker.",
            low);
    return WM_L(
        "The first backup will probably take somewhere between %@ and %@. Later ones only send what changed and "
        "are much quicker.",
        low, high);
}

std::string describe(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) seconds = 0;
    const double m = seconds / 60;
    if (m < 90) return WM_L("%lld minutes", std::max<std::int64_t>(5, 5 * nearest(m / 5)));
    const double h = m / 60;
    if (h < 24) return Phrasing::grouped(std::max<std::int64_t>(2, nearest(h))) + " hours";
    const std::int64_t n = std::max<std::int64_t>(1, nearest(h / 24));
    return Phrasing::grouped(n) + (n == 1 ? " day" : " days");
}

}  // namespace wm::FirstBackupEstimate

#include "policy/BackupProgressReport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm {

std::string BackupProgressReport::sentence(Date asOf) const {
    std::vector<std::string> parts = {Phrasing::count(filesSeen, "file")};
    if (bytesStored > 0)
        parts.push_back(WM_L("%@ stored", Phrasing::bytes(bytesStored)));
    else if (bytesRead > 0)
        parts.push_back(WM_L("nothing new so far"));
    const double elapsed = std::max(0.0, asOf.timeIntervalSince(startedAt));
    if (elapsed >= 3) parts.push_back(std::to_string(static_cast<std::int64_t>(elapsed)) + "s");
    std::string line = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) line += ", " + parts[i];
    return line;
}

std::optional<std::string> BackupProgressReport::rate(Date asOf) const {
    const double elapsed = asOf.timeIntervalSince(startedAt);
    if (elapsed < 1 || bytesRead == 0) return std::nullopt;
    // At least one second has passed, so the rate is at most the bytes read; but a count near
    // the top of the range becomes 2^64 as a double, which no 64-bit count holds.
    const double perSecond = static_cast<double>(bytesRead) / elapsed;
    const std::uint64_t rounded =
        perSecond >= 0x1p64 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(perSecond);
    return Phrasing::bytes(rounded) + "/s";
}

}  // namespace wm

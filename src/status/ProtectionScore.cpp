#include "status/ProtectionScore.h"

#include <algorithm>

#include "core/Localization.h"

namespace wm {

namespace {

constexpr double verifiedWithin = 7'776'000;  // 90 days, strict
constexpr double backedUpWithin = 604'800;    // 7 days, strict
constexpr std::int64_t capWhileAtRisk = 50;

// A date earns while its age is below the limit; a future date has a negative age and
// earns, an age that is not a number does not.
bool recent(const std::optional<Date>& date, Date now, double limit) {
    if (!date) return false;
    return now.timeIntervalSince(*date) < limit;
}

}  // namespace

ProtectionScore::ProtectionScore(const Inputs& inputs, Date now) : confirmedCopies_(inputs.confirmedCopies) {
    const struct {
        bool earned;
        std::int64_t points;
        std::string instruction;
    } rows[] = {
        {inputs.confirmedCopies >= 1, 30, WM_L("Make a backup")},
        {inputs.confirmedCopies >= 2, 25, WM_L("Add a second location")},
        {inputs.offsiteCopies >= 1, 20, WM_L("Keep one copy somewhere else, such as a cloud folder")},
        {recent(inputs.lastVerified, now, verifiedWithin), 15, WM_L("Check the backup can be read back")},
        {recent(inputs.lastSuccessfulBackup, now, backedUpWithin), 10, WM_L("Back up in the last week")},
    };
    for (const auto& row : rows) {
        if (row.earned) {
            points_ += row.points;
        } else {
            steps_.push_back({row.instruction, row.points});
        }
    }

    if (inputs.hasUnresolvedDamage) {
        points_ = std::min(points_, capWhileAtRisk);
        cappedByDamage_ = true;
    } else if (inputs.hasDestinationReportingFaults || inputs.hasUnacknowledgedAnomaly) {
        points_ = std::min(points_, capWhileAtRisk);
        cappedByFault_ = inputs.hasDestinationReportingFaults;
        cappedByAnomaly_ = inputs.hasUnacknowledgedAnomaly;
    }
}

std::string ProtectionScore::sentence() const {
    if (cappedByDamage_)
        return WM_L("Part of this backup is damaged. Nothing else counts for much until that is dealt with.");
    if (cappedByFault_ && cappedByAnomaly_)
        return WM_L(
            "A drive is reporting faults and an unusual change has not been confirmed. Both are described "
            "above, and neither is fixed by another copy, so nothing else counts for much until they are.");
    if (cappedByFault_)
        return WM_L(
            "A drive holding one of your copies is reporting faults, described above. That copy is not one "
            "to count on until it is fixed, and nothing else counts for much until it is.");
    if (cappedByAnomaly_)
        return WM_L(
            "An unusual number of files changed and nobody has said that was expected, described above. "
            "That is worth more than another copy right now.");
    if (points_ >= 90) return WM_L("About as well protected as this can make you.");
    if (points_ >= 60) return WM_L("Reasonably protected. The largest thing left is below.");
    if (points_ >= 30 && confirmedCopies_ > 1)
        return WM_L("Not protected enough yet. The largest thing left is below.");
    if (points_ >= 30) return WM_L("One copy, which is better than none and not much better.");
    return WM_L("Not protected yet.");
}

std::optional<ProtectionScore::Step> ProtectionScore::nextStep() const {
    if (isCapped() || steps_.empty()) return std::nullopt;
    // max_element keeps the first of several equal maxima.
    return *std::max_element(steps_.begin(), steps_.end(),
                             [](const Step& a, const Step& b) { return a.points < b.points; });
}

}  // namespace wm

#include "status/UpdatePolicy.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::UpdatePolicy {

bool shouldCheck(const std::optional<Date>& lastChecked, Date now, double interval) {
    if (!lastChecked || *lastChecked > now) return true;
    // An interval that is not a number makes a check due rather than never due again.
    return !(now.timeIntervalSince(*lastChecked) < interval);
}

bool mayInstall(Activity during) { return during == Activity::idle; }

std::string describe(Activity activity) {
    switch (activity) {
    case Activity::idle: return WM_L("the current task");
    case Activity::backingUp: return WM_L("your backup");
    case Activity::restoring: return WM_L("restoring your files");
    case Activity::verifying: return WM_L("the check");
    case Activity::pruning: return WM_L("clearing old versions");
    }
    return WM_L("the current task");
}

std::string Standing::sentence(Date now) const {
    switch (kind) {
    case Kind::upToDate: return WM_L("Up to date, checked %@.", Phrasing::relativeTime(checked, now));
    case Kind::available: return WM_L("Version %@ is available.", text);
    case Kind::installing: return WM_L("Installing version %@...", text);
    case Kind::readyToInstall:
        return WM_L(
            "Version %@ is downloaded. It installs when Wendle Marsh quits, and never in the middle of a "
            "backup.",
            text);
    case Kind::waitingUntilIdle:
        return WM_L("Version %@ is ready and will install when %@ has finished.", text, describe(because));
    case Kind::couldNotCheck:
        if (!lastSuccessful) return WM_L("Could not check for updates. %@", text);
        return WM_L("Could not check for updates. %@ Last checked %@.", text,
                    Phrasing::relativeTime(*lastSuccessful, now));
    case Kind::neverChecked: return WM_L("Updates: first check is due.");
    case Kind::handledByTheAppStore: return WM_L("Updates arrive through the App Store.");
    }
    return {};
}

}  // namespace wm::UpdatePolicy

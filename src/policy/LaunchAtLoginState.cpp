#include "policy/LaunchAtLoginState.h"

#include "core/Localization.h"

namespace wm {

LaunchAtLoginState LaunchAtLoginState::fromServiceStatus(std::int64_t raw) {
    switch (raw) {
    case 0:
    case 3: return {Kind::off, {}};
    case 1: return {Kind::enabled, {}};
    case 2: return {Kind::waitingForApproval, {}};
    default: return {Kind::unavailable, WM_L("macOS reported a state Wendle Marsh does not recognize.")};
    }
}

std::string LaunchAtLoginState::scheduleClaim(bool isScheduled) const {
    if (!isScheduled) return WM_L("Wendle Marsh will not back up on its own.");
    switch (kind) {
    case Kind::enabled:
        return WM_L(
            "Wendle Marsh starts in the menu bar when you log in, so backups keep happening without you "
            "opening anything. A Mac that is asleep or shut down still cannot back up.");
    case Kind::off: return WM_L("Scheduled backups run while Wendle Marsh is open.");
    case Kind::waitingForApproval:
        return WM_L(
            "Waiting for you to allow Wendle Marsh in System Settings. Until then backups only run while it "
            "is open.");
    case Kind::unavailable: break;
    }
    return WM_L("Backups run while Wendle Marsh is open. %@", reason);
}

}  // namespace wm

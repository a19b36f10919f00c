#include "policy/PowerConditions.h"

#include <cmath>

#include "core/Localization.h"

namespace wm::PowerConditions {

Verdict shouldStartScheduled(const State& state) {
    if (state.lowPowerMode)
        return Verdict::waitingForPower(WM_L(
            "Low Power Mode is on, so scheduled backups are waiting. You can still back up now whenever you like."));
    if (!state.onBattery || !state.batteryFraction) return Verdict::go();
    if (*state.batteryFraction < lowBattery)
        return Verdict::waitingForPower(
            WM_L("Waiting for power. Backups resume when this Mac is plugged in or the battery is above %lld%%.",
                 static_cast<long long>(std::lround(lowBattery * 100))));
    return Verdict::go();
}

}  // namespace wm::PowerConditions

#pragma once
// Whether the machine's power situation lets a scheduled backup start. The caller reads
// the power source, battery level and Low Power Mode and passes them in.
#include <optional>
#include <string>

namespace wm::PowerConditions {

// The battery fraction below which scheduled backups wait while on battery.
inline constexpr double lowBattery = 0.3;

struct State {
    bool onBattery = false;
    std::optional<double> batteryFraction;  // 0 to 1; absent never holds a backup back
    bool lowPowerMode = false;
    bool userIsActive = false;  // not consulted by shouldStartScheduled

    friend bool operator==(const State&, const State&) = default;
};

struct Verdict {
    enum class Kind { waitingForPower, go };
    Kind kind = Kind::go;
    std::string text;  // waitingForPower: why

    static Verdict waitingForPower(std::string why) { return {Kind::waitingForPower, std::move(why)}; }
    static Verdict go() { return {}; }

    std::optional<std::string> sentence() const {
        return kind == Kind::waitingForPower ? std::optional(text) : std::nullopt;
    }
    bool shouldRun() const { return kind == Kind::go; }
    friend bool operator==(const Verdict&, const Verdict&) = default;
};

// Low Power Mode holds every scheduled backup back, on mains power too; on battery,
// a known charge strictly below lowBattery does.
Verdict shouldStartScheduled(const State& state);

}  // namespace wm::PowerConditions

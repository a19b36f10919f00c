#pragma once
// The one headline at the top of the backup side's main screen: a sentence, a tone that
// colours it and the symbol drawn beside it. The widget state and the menu bar start
// from it, so every surface shows the same words.
#include <optional>
#include <string>
#include <string_view>

#include "policy/BackupSchedule.h"

namespace wm::ScreenStanding {

enum class Tone { good, neutral, attention };

// "good", "neutral", "attention".
std::string_view rawValue(Tone tone);
// Nothing for any other text.
std::optional<Tone> toneFromRawValue(std::string_view raw);

struct Headline {
    std::string text;  // already localised
    Tone tone = Tone::neutral;
    std::string symbol;  // a symbol image name
    friend bool operator==(const Headline&, const Headline&) = default;
};

struct Conditions {
    bool driveReturningBadData = false;
    bool backupRefused = false;
    bool unacknowledgedAnomaly = false;
    BackupSchedule::Standing schedule;
    friend bool operator==(const Conditions&, const Conditions&) = default;
};

// The first rule that applies: an unreliable drive, a refused backup, a schedule that
// needs attention, an unconfirmed unusual change, then the schedule's own standing.
Headline headline(const Conditions& conditions);

}  // namespace wm::ScreenStanding

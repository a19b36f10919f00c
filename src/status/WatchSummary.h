#pragma once
// What the watch shows about the backup: protected, needs attention, or that it cannot
// tell, judged from the last widget state it received and trusted for six hours.
#include <string>

#include "core/Date.h"
#include "status/ScreenStanding.h"
#include "status/WidgetState.h"

namespace wm::WatchSummary {

enum class State { protected_, needsAttention, unknown };

std::string symbol(State state);
// "OK" and "Check" localised; "?" for unknown, never looked up.
std::string short_(State state);

// How long a received state is trusted, in seconds (exclusive).
inline constexpr double trustFor = 21'600;

struct Snapshot {
    WidgetState state;
    Date receivedAt;  // by the watch's own clock
    State summary = State::unknown;

    // Nothing received yet; made once.
    static const Snapshot& nothingHeardYet();
    // The one line the watch shows; now only moves the age of an out-of-touch sentence.
    std::string sentence(Date now) const;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

// Unknown once trustFor has passed or when receivedAt lies in the future; otherwise
// the headline's tone decides. Only the tone is read.
State state(const ScreenStanding::Headline& headline, Date receivedAt, Date now);
Snapshot snapshot(const WidgetState& state, Date receivedAt, Date now);

}  // namespace wm::WatchSummary

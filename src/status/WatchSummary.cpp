#include "status/WatchSummary.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::WatchSummary {

std::string symbol(State state) {
    switch (state) {
    case State::protected_: return "checkmark.shield.fill";
    case State::needsAttention: return "exclamationmark.shield.fill";
    case State::unknown: return "questionmark.circle";
    }
    return "questionmark.circle";
}

std::string short_(State state) {
    switch (state) {
    case State::protected_: return WM_L("OK");
    case State::needsAttention: return WM_L("Check");
    case State::unknown: return "?";
    }
    return "?";
}

namespace {

State judge(ScreenStanding::Tone tone, Date receivedAt, Date now) {
    if (!(now.timeIntervalSince(receivedAt) < trustFor) || receivedAt > now) return State::unknown;
    return tone == ScreenStanding::Tone::attention ? State::needsAttention : State::protected_;
}

}  // namespace

State state(const ScreenStanding::Headline& headline, Date receivedAt, Date now) {
    return judge(headline.tone, receivedAt, now);
}

Snapshot snapshot(const WidgetState& state, Date receivedAt, Date now) {
    return {state, receivedAt, judge(state.tone, receivedAt, now)};
}

const Snapshot& Snapshot::nothingHeardYet() {
    static const Snapshot snapshot{WidgetState::nothingKnownYet(), Date::distantPast(), State::unknown};
    return snapshot;
}

std::string Snapshot::sentence(Date now) const {
    if (!state.wasEverWritten()) return WM_L("No word from your iPhone yet. Open Wendle Marsh there to pair them.");
    if (summary == State::unknown)
        return WM_L(
            "Out of touch with your iPhone, last heard from %@. This is not the backup's state, it is how long "
            "since the last word about it.",
            Phrasing::relativeTime(receivedAt, now));
    return state.headline;
}

}  // namespace wm::WatchSummary

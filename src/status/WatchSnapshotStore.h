#pragma once
// The watch's memory of the last widget state it received and when it arrived, kept in
// the app group's shared settings: a small JSON file under the XDG configuration home,
// with both values replaced together so a reader never pairs a new state with an old time.
#include <filesystem>

#include "core/Date.h"
#include "status/WatchSummary.h"
#include "status/WidgetState.h"

namespace wm::WatchSnapshotStore {

inline constexpr std::string_view appGroup = AppGroup::identifier;

// The shared settings file of the app group.
std::filesystem::path settingsFile();

// Stores the state and its arrival time in one replacement, keeping the other keys of the
// settings. Never throws: when the state cannot be encoded, the file cannot be written or
// there is a settings file this cannot read, what was stored stays.
void record(const WidgetState& state, Date receivedAt);

// The stored snapshot judged at now; nothingHeardYet when nothing usable is stored.
WatchSummary::Snapshot current(Date now);

}  // namespace wm::WatchSnapshotStore

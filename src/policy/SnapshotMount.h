#pragma once
// Mounting a local snapshot of the data volume read-only in a private folder: the
// snapshot's name as the snapshot tool prints it, and the argument lists of the mount and
// unmount commands, built only from names and folders of the strict forms below.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Identifiers.h"

namespace wm::SnapshotMount {

inline constexpr std::string_view volume = "/System/Volumes/Data";
inline constexpr std::string_view mountRoot = "/Library/Application Support/Wendle Marsh Helper/Snapshots";

// mountRoot + "/" + the UUID's upper-case text.
std::string mountFolder(const UUID& id);
// "com.apple.TimeMachine.YYYY-MM-DD-HHMMSS.local", ASCII digits only.
bool isSnapshotName(std::string_view text);
bool isMountFolder(std::string_view text);
// The name of the snapshot the tool reported making; absent when there is none.
std::optional<std::string> snapshotName(std::string_view tmutilOutput);
// Argument vectors, program first; absent when an input fails its check.
std::optional<std::vector<std::string>> mountCommand(std::string_view snapshot, std::string_view folder);
std::optional<std::vector<std::string>> unmountCommand(std::string_view folder);

}  // namespace wm::SnapshotMount

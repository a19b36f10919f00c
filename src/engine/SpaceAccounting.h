#pragma once
// How much room a repository takes and has on its destination. (Its destination's fault
// tally is Repository::health().)
#include <cstdint>
#include <optional>

namespace wm {

class Repository;

// The bytes of the files under "packs", "index" and "snapshots", up to three folder levels
// down. An entry counts as a folder when it lists at least one entry; anything else counts by
// its size. Errors of listing those three folders and of size queries propagate.
std::int64_t storedBytes(const Repository& repository);

// The destination's free bytes for important use; nothing when it cannot tell.
std::optional<std::int64_t> freeSpaceAtPrimary(const Repository& repository);

}  // namespace wm

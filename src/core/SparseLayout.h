#pragma once
// Where a sparse file holds data: the complement of its holes within its size.
#include <cstdint>
#include <vector>

#include "core/EntryMetadata.h"

namespace wm::SparseLayout {

using Region = SparseRange;

// The data regions of a file of `size` bytes with the given holes: none for size 0;
// the whole file without holes; otherwise the holes are clipped to the size, empty
// ones dropped, sorted and merged where they overlap or touch, and the gaps before,
// between and after them are returned, ascending, non-empty and non-overlapping.
std::vector<Region> dataRegions(std::uint64_t size, const std::vector<Region>& holes);

}  // namespace wm::SparseLayout

#pragma once
// Where a sparse file holds data: the complement of its holes within its size; and which
// holes stay holes when a file has more than an entry of a snapshot records.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/EntryMetadata.h"

namespace wm::SparseLayout {

using Region = SparseRange;

// The most holes one entry of a snapshot records (their count is a 16-bit field).
inline constexpr std::size_t maximumHoles = 65'535;

// The data regions of a file of `size` bytes with the given holes: none for size 0;
// the whole file without holes; otherwise the holes are clipped to the size, empty
// ones dropped, sorted and merged where they overlap or touch, and the gaps before,
// between and after them are returned, ascending, non-empty and non-overlapping.
std::vector<Region> dataRegions(std::uint64_t size, const std::vector<Region>& holes);

// Chooses, among holes given one at a time, the at most `limit` that stay holes: the
// largest, and of equal ones the earlier in the file, so that one file is recorded the same
// way each time. The others are kept as data (their zeros). It never holds more than `limit`
// holes, however many it is given.
class HoleChoice {
public:
    explicit HoleChoice(std::size_t limit = maximumHoles) : limit_(limit) {}
    void add(const Region& hole);
    // The holes kept, in file order.
    std::vector<Region> take() &&;

private:
    std::size_t limit_;
    std::vector<Region> kept_;  // a heap: the hole least worth keeping on top
};

// The holes among `holes` that stay holes under `limit` (see HoleChoice), in file order.
std::vector<Region> holesToKeep(const std::vector<Region>& holes, std::size_t limit = maximumHoles);

}  // namespace wm::SparseLayout

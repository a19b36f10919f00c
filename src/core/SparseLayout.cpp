#include "core/SparseLayout.h"

#include <algorithm>

#include "core/Saturating.h"

namespace wm {

std::uint64_t SparseRange::end() const { return saturatingAdd(offset, length); }

}  // namespace wm

namespace wm::SparseLayout {

std::vector<Region> dataRegions(std::uint64_t size, const std::vector<Region>& holes) {
    std::vector<Region> data;
    if (size == 0) return data;
    // Clip to the file; a hole that starts at or past the end, or is empty, goes.
    std::vector<Region> clipped;
    clipped.reserve(holes.size());
    for (const Region& h : holes) {
        if (h.offset >= size) continue;
        std::uint64_t end = std::min(h.end(), size);
        if (end > h.offset) clipped.push_back({h.offset, end - h.offset});
    }
    std::sort(clipped.begin(), clipped.end(), [](const Region& a, const Region& b) { return a.offset < b.offset; });
    std::uint64_t cursor = 0;  // end of the data seen so far
    for (const Region& h : clipped) {
        if (h.offset > cursor) data.push_back({cursor, h.offset - cursor});
        cursor = std::max(cursor, h.end());
    }
    if (cursor < size) data.push_back({cursor, size - cursor});
    return data;
}

}  // namespace wm::SparseLayout

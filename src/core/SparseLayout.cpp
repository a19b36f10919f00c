#include "core/SparseLayout.h"

#include <algorithm>

#include "core/Saturating.h"

namespace wm {

std::uint64_t SparseRange::end() const { return saturatingAdd(offset, length); }

}  // namespace wm

namespace wm::SparseLayout {

namespace {

// Whether `a` is more worth keeping as a hole than `b`: larger, or as large and earlier.
bool worthMore(const Region& a, const Region& b) {
    if (a.length != b.length) return a.length > b.length;
    return a.offset < b.offset;
}

bool inFileOrder(const Region& a, const Region& b) { return a.offset < b.offset; }

}  // namespace

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
    std::sort(clipped.begin(), clipped.end(), inFileOrder);
    std::uint64_t cursor = 0;  // end of the data seen so far
    for (const Region& h : clipped) {
        if (h.offset > cursor) data.push_back({cursor, h.offset - cursor});
        cursor = std::max(cursor, h.end());
    }
    if (cursor < size) data.push_back({cursor, size - cursor});
    return data;
}

void HoleChoice::add(const Region& hole) {
    // With `worthMore` as the heap's order, its top is the hole least worth keeping.
    if (kept_.size() < limit_) {
        kept_.push_back(hole);
        std::push_heap(kept_.begin(), kept_.end(), worthMore);
        return;
    }
    if (kept_.empty() || !worthMore(hole, kept_.front())) return;
    std::pop_heap(kept_.begin(), kept_.end(), worthMore);
    kept_.back() = hole;
    std::push_heap(kept_.begin(), kept_.end(), worthMore);
}

std::vector<Region> HoleChoice::take() && {
    std::sort(kept_.begin(), kept_.end(), inFileOrder);
    return std::move(kept_);
}

std::vector<Region> holesToKeep(const std::vector<Region>& holes, std::size_t limit) {
    HoleChoice choice(limit);
    for (const Region& hole : holes) choice.add(hole);
    return std::move(choice).take();
}

}  // namespace wm::SparseLayout

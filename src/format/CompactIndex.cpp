#include "format/CompactIndex.h"

#include <algorithm>
#include <cstring>

namespace wm {

namespace {

constexpr std::uint64_t kOffsetMask = CompactIndex::offsetLimit;
constexpr int kTypeShift = 56;

// The side array is folded into the main one when it holds more than this many records,
// or more than an eighth of the main array, whichever is larger.
constexpr std::size_t kMinimumFoldSize = 16384;

template <class R>
bool idLess(const R& a, const R& b) {
    return std::memcmp(a.id.data(), b.id.data(), 32) < 0;
}

template <class R>
bool idEqual(const R& a, const R& b) {
    return std::memcmp(a.id.data(), b.id.data(), 32) == 0;
}

}  // namespace

std::uint32_t CompactIndex::packNumber(const PackID& pack) {
    auto it = packNumbers_.find(pack);
    if (it != packNumbers_.end()) return it->second;
    const auto number = static_cast<std::uint32_t>(packIDs_.size());
    packIDs_.push_back(pack);
    packNumbers_.emplace(pack, number);
    return number;
}

CompactIndex::Record CompactIndex::makeRecord(const PackFile::Entry& entry, std::uint32_t pack) const {
    Record r;
    r.id = entry.id.bytes;
    const std::uint64_t offset = std::min<std::uint64_t>(entry.offset, offsetLimit);
    r.offsetAndType = offset | (std::uint64_t{rawValue(entry.type)} << kTypeShift);
    r.length = entry.length;
    r.pack = pack;
    return r;
}

BlobID CompactIndex::idOf(const Record& r) {
    BlobID id;
    id.bytes = r.id;
    return id;
}

CompactIndex::Location CompactIndex::locationOf(const Record& r) const {
    Location location;
    location.pack = packIDs_[r.pack];
    location.entry.id = idOf(r);
    location.entry.type = static_cast<BlobType>(r.offsetAndType >> kTypeShift);
    const std::uint64_t offset = r.offsetAndType & kOffsetMask;
    location.entry.offset = offset == offsetLimit ? UINT64_MAX : offset;
    location.entry.length = r.length;
    return location;
}

const CompactIndex::Record* CompactIndex::find(const std::vector<Record>& records, const BlobID& id) {
    std::size_t low = 0;
    std::size_t high = records.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const int c = std::memcmp(records[mid].id.data(), id.bytes.data(), 32);
        if (c == 0) return &records[mid];
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return nullptr;
}

const CompactIndex::Record* CompactIndex::find(const BlobID& id) const {
    if (const Record* r = find(main_, id)) return r;
    return find(recent_, id);
}

void CompactIndex::sortUnique(std::vector<Record>& records) {
    std::stable_sort(records.begin(), records.end(), idLess<Record>);
    records.erase(std::unique(records.begin(), records.end(), idEqual<Record>), records.end());
}

void CompactIndex::mergeInto(std::vector<Record>& a, std::vector<Record>&& b, bool reserveExact) {
    if (b.empty()) return;
    if (a.empty()) {
        a = std::move(b);
        return;
    }
    if (reserveExact && a.capacity() < a.size() + b.size()) a.reserve(a.size() + b.size());
    const auto middle = static_cast<std::ptrdiff_t>(a.size());
    a.insert(a.end(), b.begin(), b.end());
    b.clear();
    b.shrink_to_fit();
    // Stable: of two equal ids, the one from `a` comes first and unique() keeps it.
    std::inplace_merge(a.begin(), a.begin() + middle, a.end(), idLess<Record>);
    a.erase(std::unique(a.begin(), a.end(), idEqual<Record>), a.end());
}

void CompactIndex::foldRecent() {
    if (recent_.empty()) return;
    mergeInto(main_, std::move(recent_), false);
    recent_ = {};
}

void CompactIndex::merge(const IndexFile::Section& section) {
    if (section.entries.empty()) return;
    const std::uint32_t pack = packNumber(section.pack);
    std::vector<Record> batch;
    batch.reserve(section.entries.size());
    for (const auto& entry : section.entries) {
        if (!contains(entry.id)) batch.push_back(makeRecord(entry, pack));
    }
    sortUnique(batch);
    mergeInto(recent_, std::move(batch), true);
    if (recent_.size() > std::max(kMinimumFoldSize, main_.size() / 8)) foldRecent();
}

void CompactIndex::merge(const std::vector<IndexFile::Section>& sections) {
    for (const auto& section : sections) merge(section);
}

void CompactIndex::appendUnchecked(const IndexFile::Section& section) {
    if (!appending_) {
        foldRecent();
        sortedPrefix_ = main_.size();
        appending_ = true;
    }
    if (section.entries.empty()) return;
    const std::uint32_t pack = packNumber(section.pack);
    for (const auto& entry : section.entries) main_.push_back(makeRecord(entry, pack));
}

void CompactIndex::finishAppending() {
    if (!appending_) return;
    appending_ = false;
    const auto prefix = static_cast<std::ptrdiff_t>(sortedPrefix_);
    std::stable_sort(main_.begin() + prefix, main_.end(), idLess<Record>);
    main_.erase(std::unique(main_.begin() + prefix, main_.end(), idEqual<Record>), main_.end());
    if (prefix > 0) {
        std::inplace_merge(main_.begin(), main_.begin() + prefix, main_.end(), idLess<Record>);
        main_.erase(std::unique(main_.begin(), main_.end(), idEqual<Record>), main_.end());
    }
    sortedPrefix_ = main_.size();
}

void CompactIndex::reserveCapacity(std::size_t blobs) { main_.reserve(blobs); }

std::optional<CompactIndex::Location> CompactIndex::location(const BlobID& id) const {
    if (const Record* r = find(id)) return locationOf(*r);
    return std::nullopt;
}

bool CompactIndex::contains(const BlobID& id) const { return find(id) != nullptr; }

std::vector<BlobID> CompactIndex::blobIDs() const {
    std::vector<BlobID> ids;
    ids.reserve(blobCount());
    for (const auto& r : main_) ids.push_back(idOf(r));
    for (const auto& r : recent_) ids.push_back(idOf(r));
    return ids;
}

std::vector<BlobID> CompactIndex::missing(const std::vector<BlobID>& ids) const {
    std::vector<BlobID> result;
    for (const auto& id : ids) {
        if (!contains(id)) result.push_back(id);
    }
    return result;
}

std::unordered_set<PackID> CompactIndex::packs() const {
    std::vector<bool> used(packIDs_.size(), false);
    for (const auto& r : main_) used[r.pack] = true;
    for (const auto& r : recent_) used[r.pack] = true;
    std::unordered_set<PackID> result;
    for (std::size_t i = 0; i < used.size(); ++i) {
        if (used[i]) result.insert(packIDs_[i]);
    }
    return result;
}

std::size_t CompactIndex::memoryBytes() const {
    return (main_.capacity() + recent_.capacity()) * sizeof(Record) + packIDs_.capacity() * sizeof(PackID) +
           packNumbers_.size() * (sizeof(PackID) + sizeof(std::uint32_t) + 2 * sizeof(void*)) +
           packNumbers_.bucket_count() * sizeof(void*);
}

bool operator==(const CompactIndex& a, const CompactIndex& b) {
    if (a.blobCount() != b.blobCount()) return false;
    bool equal = true;
    a.forEach([&](const BlobID& id, const CompactIndex::Location& location) {
        if (!equal) return;
        const auto other = b.location(id);
        if (!other || !(*other == location)) equal = false;
    });
    return equal;
}

}  // namespace wm

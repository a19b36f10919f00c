#pragma once
// The in-memory index of an open repository: where every stored blob lies.
//
// A repository may hold millions of blobs, and the index must sit in memory for as long as
// the repository is open, so it is kept compact: one 48-byte record per blob (its id, the
// pack's number in a table of packs, the offset with the blob type, the sealed length) in a
// sorted array searched by halving. Each pack identity is stored once in the pack table.
//
// Blobs added after opening (one sealed pack at a time) go to a small sorted side array that
// is folded into the main array once it grows past a fraction of it, so sealing a pack does
// not move the whole index.
//
// When several packs or index files list one blob, the location merged first stays.
// Not synchronised: the owner guards it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Identifiers.h"
#include "format/IndexFile.h"
#include "format/PackFile.h"

namespace wm {

class CompactIndex {
public:
    struct Location {
        PackID pack;
        PackFile::Entry entry;
        friend bool operator==(const Location&, const Location&) = default;
    };

    // Offsets this large cannot be a position in any pack; an index record that claims one
    // is kept (the blob is known) but reads as unreadable (offset UINT64_MAX).
    static constexpr std::uint64_t offsetLimit = (std::uint64_t{1} << 56) - 1;

    CompactIndex() = default;
    explicit CompactIndex(const std::vector<IndexFile::Section>& sections) { merge(sections); }

    // Adds every entry of the sections in order; an id already held keeps its location.
    void merge(const IndexFile::Section& section);
    void merge(const std::vector<IndexFile::Section>& sections);

    // Bulk loading (opening a repository): append sections without looking anything up, then
    // sort once. Until finishAppending() the index must not be read. The result is the same
    // as merging the same sections in the same order.
    void appendUnchecked(const IndexFile::Section& section);
    void finishAppending();

    // Reserves room for that many blobs in the main array.
    void reserveCapacity(std::size_t blobs);

    std::optional<Location> location(const BlobID& id) const;
    bool contains(const BlobID& id) const;
    std::size_t blobCount() const { return main_.size() + recent_.size(); }
    bool empty() const { return blobCount() == 0; }
    // Every id, in ascending byte order of the main array, then of the side array.
    std::vector<BlobID> blobIDs() const;
    // The ids of `ids` that the index does not hold, in their order, duplicates kept.
    std::vector<BlobID> missing(const std::vector<BlobID>& ids) const;
    // Every pack that at least one location names.
    std::unordered_set<PackID> packs() const;
    // Calls body(id, location) for every blob.
    template <class Body>
    void forEach(Body&& body) const {
        for (const auto& r : main_) body(idOf(r), locationOf(r));
        for (const auto& r : recent_) body(idOf(r), locationOf(r));
    }

    // Bytes held by the arrays and the pack table (capacity, not size).
    std::size_t memoryBytes() const;

    friend bool operator==(const CompactIndex& a, const CompactIndex& b);

private:
    struct Record {
        std::array<std::uint8_t, 32> id;
        std::uint64_t offsetAndType;  // offset in the low 56 bits, BlobType raw value above
        std::uint32_t length;
        std::uint32_t pack;  // number in packIDs_
    };
    static_assert(sizeof(Record) == 48, "index records must stay 48 bytes");

    std::uint32_t packNumber(const PackID& pack);
    Record makeRecord(const PackFile::Entry& entry, std::uint32_t pack) const;
    static BlobID idOf(const Record& r);
    Location locationOf(const Record& r) const;
    static const Record* find(const std::vector<Record>& records, const BlobID& id);
    const Record* find(const BlobID& id) const;
    // Sorts records by id keeping the first of equal ids (stable), then drops the others.
    static void sortUnique(std::vector<Record>& records);
    // Merges b into a (both sorted and unique); on equal ids a's record stays.
    static void mergeInto(std::vector<Record>& a, std::vector<Record>&& b, bool reserveExact);
    void foldRecent();

    std::vector<Record> main_;      // sorted by id, unique (after finishAppending)
    std::vector<Record> recent_;    // sorted by id, unique, disjoint from main_
    std::size_t sortedPrefix_ = 0;  // main_[0..sortedPrefix_) is sorted; the rest appended
    bool appending_ = false;
    std::vector<PackID> packIDs_;
    std::unordered_map<PackID, std::uint32_t> packNumbers_;
};

}  // namespace wm

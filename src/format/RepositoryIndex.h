#pragma once
// The in-memory index: where every stored blob lies. When several packs or index files
// list one blob, the location merged first stays.
#include <cstddef>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Identifiers.h"
#include "format/IndexFile.h"
#include "format/PackFile.h"

namespace wm {

class RepositoryIndex {
public:
    struct Location {
        PackID pack;
        PackFile::Entry entry;
        friend bool operator==(const Location&, const Location&) = default;
    };

    RepositoryIndex() = default;
    explicit RepositoryIndex(const std::vector<IndexFile::Section>& sections) { merge(sections); }

    // Adds every entry of the sections in order; an id already held keeps its location.
    void merge(const std::vector<IndexFile::Section>& sections);
    void merge(const IndexFile::Section& section);
    void reserveCapacity(std::size_t blobs) { locations_.reserve(blobs); }

    std::optional<Location> location(const BlobID& id) const;
    bool contains(const BlobID& id) const { return locations_.count(id) != 0; }
    std::size_t blobCount() const { return locations_.size(); }
    // Every id, in no promised order.
    std::vector<BlobID> blobIDs() const;
    // The ids of `ids` that the index does not hold, in their order, duplicates kept.
    std::vector<BlobID> missing(const std::vector<BlobID>& ids) const;
    // Every pack that at least one location names.
    std::unordered_set<PackID> packs() const;

    const std::unordered_map<BlobID, Location>& locations() const { return locations_; }

private:
    std::unordered_map<BlobID, Location> locations_;
};

}  // namespace wm

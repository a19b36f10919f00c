#include "format/RepositoryIndex.h"

namespace wm {

void RepositoryIndex::merge(const IndexFile::Section& section) {
    for (const auto& entry : section.entries) locations_.try_emplace(entry.id, Location{section.pack, entry});
}

void RepositoryIndex::merge(const std::vector<IndexFile::Section>& sections) {
    for (const auto& s : sections) merge(s);
}

std::optional<RepositoryIndex::Location> RepositoryIndex::location(const BlobID& id) const {
    const auto it = locations_.find(id);
    if (it == locations_.end()) return std::nullopt;
    return it->second;
}

std::vector<BlobID> RepositoryIndex::blobIDs() const {
    std::vector<BlobID> ids;
    ids.reserve(locations_.size());
    for (const auto& [id, _] : locations_) ids.push_back(id);
    return ids;
}

std::vector<BlobID> RepositoryIndex::missing(const std::vector<BlobID>& ids) const {
    std::vector<BlobID> out;
    for (const auto& id : ids)
        if (!contains(id)) out.push_back(id);
    return out;
}

std::unordered_set<PackID> RepositoryIndex::packs() const {
    std::unordered_set<PackID> out;
    for (const auto& [_, location] : locations_) out.insert(location.pack);
    return out;
}

}  // namespace wm

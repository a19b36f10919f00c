#include "format/IndexRebuild.h"

#include <optional>

#include "core/WorkerPool.h"
#include "format/PackVerification.h"
#include "format/RepositoryLayout.h"

namespace wm {

void indexPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                const std::unordered_set<PackID>& skipping, std::unordered_map<PackID, RepoPath>* foundAt,
                WorkerPool* pool) {
    std::vector<RepositoryLayout::PackPath> packs;
    for (auto& found : RepositoryLayout::packPaths(destination)) {
        if (skipping.count(found.id) == 0) packs.push_back(std::move(found));
    }
    // Read in pieces and checked as it streams, as verification does: memory stays bounded
    // whatever the size of the file. Destination errors propagate.
    using Directory = std::optional<std::vector<PackFile::Entry>>;
    auto check = [&](PackVerifier& verifier, std::size_t k) -> Directory {
        try {
            return verifier.check(destination, packs[k].path, packs[k].id);
        } catch (const PackFile::Error&) {
        } catch (const BlobCipherError&) {
            // A damaged pack contributes nothing; the others are still indexed.
        }
        return std::nullopt;
    };
    // Merged strictly in listing order, so the result does not depend on the pool.
    auto merge = [&](std::size_t k, Directory&& entries) {
        if (!entries) return;
        index.merge(IndexFile::Section{packs[k].id, std::move(*entries)});
        if (foundAt) foundAt->try_emplace(packs[k].id, packs[k].path);
    };
    if (!pool) {
        PackVerifier verifier(cipher);
        for (std::size_t k = 0; k < packs.size(); ++k) merge(k, check(verifier, k));
        return;
    }
    orderedPipeline<Directory>(
        *pool, packs.size(), static_cast<std::size_t>(pool->width()) * 2,
        [&](std::size_t k) {
            PackVerifier verifier(cipher);
            return check(verifier, k);
        },
        merge);
}

CompactIndex rebuildIndex(Destination& destination, const BlobCipher& cipher) {
    CompactIndex index;
    indexPacks(destination, cipher, index);
    return index;
}

}  // namespace wm

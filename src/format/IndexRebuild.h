#pragma once
// Rebuilding the in-memory index from the pack files of a destination, for when the index
// files cannot supply it (or not all of it).
#include <unordered_map>
#include <unordered_set>

#include "crypto/BlobCipher.h"
#include "format/CompactIndex.h"
#include "storage/Destination.h"

namespace wm {

class WorkerPool;

// Merges into `index`, in the destination's listing order, the directory of every file
// packs/<fan-out>/<hex>.pack (RepositoryLayout::packPaths) that is not in `skipping` and
// validates: each is read in bounded pieces and checked as it streams (PackVerifier), so
// memory stays bounded whatever the size of a pack. A blob held by several packs keeps the
// location met first. A pack that does not validate contributes nothing, silently.
// Listing and reading errors of the destination propagate and end the rebuild.
// With foundAt, also records where each pack that validated lies (the first file of a pack
// found twice): not necessarily its canonical path when it was filed under another folder.
// With a pool, packs are checked in parallel on it (the destination must allow reads from
// several threads); the index is the same either way.
void indexPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                const std::unordered_set<PackID>& skipping = {},
                std::unordered_map<PackID, RepoPath>* foundAt = nullptr, WorkerPool* pool = nullptr);

// The whole index from the packs alone.
CompactIndex rebuildIndex(Destination& destination, const BlobCipher& cipher);

}  // namespace wm

#pragma once
// Indexing blobs straight from the pack files of a destination: every file
// packs/<xx>/<hex>.pack is read (in bounded pieces), checked against its name and its
// directory opened.
#include <unordered_map>
#include <unordered_set>

#include "crypto/BlobCipher.h"
#include "engine/CompactIndex.h"
#include "storage/Destination.h"

namespace wm {

class WorkerPool;

// Merges into `index`, in the destination's listing order, the blobs of every pack that
// validates and is not in `skipping`. Packs that do not validate, names that are not a hex
// id followed by ".pack", and plain files lying directly in "packs" are passed over. Listing
// and reading errors of the destination propagate.
// With foundAt, also records where each pack that validated lies (the first file of a pack
// found twice): not necessarily its canonical path when it was filed under another folder.
// With a pool, packs are checked in parallel on it (the destination must allow reads from
// several threads); the index is the same either way.
void indexPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                const std::unordered_set<PackID>& skipping = {},
                std::unordered_map<PackID, RepoPath>* foundAt = nullptr, WorkerPool* pool = nullptr);

}  // namespace wm

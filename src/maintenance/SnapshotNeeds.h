#pragma once
// What a set of snapshots needs, and whether each can be read whole from where its blobs
// are: its record present and opening, and every tree and content blob it reaches lying in a
// pack that was checked. Used to decide whether a copy's head may list a snapshot, and which
// packs a repair must fetch.
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Identifiers.h"
#include "crypto/BlobCipher.h"
#include "crypto/RepositoryKeys.h"
#include "format/CompactIndex.h"
#include "storage/Destination.h"

namespace wm {

// Where blobs can be read: a destination and the index of its packs that validated.
struct BlobSource {
    Destination& destination;
    const CompactIndex& packs;
};

struct SnapshotNeeds {
    // Every tree and content blob reached, whether or not a source holds it.
    std::unordered_set<BlobID> blobs;
    // The snapshots that cannot be read whole, in the order given, once for each time given.
    std::vector<SnapshotID> notWhole;
};

// Reads each distinct snapshot's record from `records` once (no larger than any record the
// format writes) and walks its trees, each read from the first source whose packs hold it. A
// snapshot whose record does not open, or one of whose blobs no source holds (or whose tree
// does not read), is not whole; the walk goes on below every tree that does read. Each tree is
// read and walked at most once per call, whole or not, one that does not read included, and
// what it lacks counts for every folder and snapshot that reaches it.
SnapshotNeeds findSnapshotNeeds(Destination& records, const std::vector<SnapshotID>& snapshots,
                                const RepositoryKeys& keys, const BlobCipher& cipher,
                                const std::vector<BlobSource>& sources);

// Every pack file of the destination checked against its name and indexed, as a rebuild
// does, except files larger than any pack, which are damaged and not read at all.
// With foundAt, also where each pack that checked lies.
void indexCheckedPacks(Destination& destination, const BlobCipher& cipher, CompactIndex& index,
                       std::unordered_map<PackID, RepoPath>* foundAt = nullptr);
CompactIndex indexCheckedPacks(Destination& destination, const BlobCipher& cipher);

}  // namespace wm

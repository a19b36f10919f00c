#pragma once
// The record a pruning mark leaves in gc/<runID>.mark, sealed and signed: which packs no kept
// snapshot reaches, the digest of what the kept snapshots reach, and the snapshots the
// retention rule keeps and gives up. The pruner makes it (Pruner::Mark names it there); the
// repository finds the newest one (Repository::latestMark).
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct PrunerMark {
    std::int64_t v = 2;
    UUID runID;
    Date markedAt;
    std::vector<Bytes> candidates;  // each a PackID's 32 bytes
    Bytes reachableDigest;
    std::vector<UUID> retainedSnapshots;
    std::vector<UUID> prunableSnapshots;

    JSON toJSON() const;
    // Every key is required; any "v" is accepted.
    static PrunerMark fromJSON(const JSON& json);
    friend bool operator==(const PrunerMark&, const PrunerMark&) = default;
};

}  // namespace wm

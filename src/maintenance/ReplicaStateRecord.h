#pragma once
// The signed record every copy of a repository carries about itself, at
// replicas/<destination id>.state: where the copy lives, when it was last brought up to date,
// which snapshots and packs it then held, and whether its storage vouches for the data.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"
#include "storage/DestinationKind.h"

namespace wm {

struct ReplicaStateRecord {
    std::int64_t v = 2;
    UUID replicaID;    // the destination's id
    std::string kind;  // "local", "external", "network" or "cloud"
    std::string label;
    Date lastSyncAt;
    std::vector<UUID> holdsSnapshots;  // the copy's head, in its order, as far as a replication put it there
    Bytes holdsPacksDigest;            // the digest of the packs the copy holds
    std::string durability;            // "verified" or "writtenLocally"
    std::optional<Date> lastVerifiedAt;

    // The record's name for a sort of destination.
    static std::string rawValue(const DestinationKind& kind);

    // Every key but "lastVerifiedAt" is required; unknown keys are ignored, and values are
    // taken as stored.
    JSON toJSON() const;
    static ReplicaStateRecord fromJSON(const JSON& json);
    friend bool operator==(const ReplicaStateRecord&, const ReplicaStateRecord&) = default;
};

}  // namespace wm

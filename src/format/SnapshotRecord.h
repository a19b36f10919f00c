#pragma once
// The on-disk record of one backup, stored as a signed record at snapshots/<id>.snap.
// Identifiers are raw UUIDs and bytes, kinds and flags plain strings: decoding checks
// only types and required keys, so kinds and flags this code does not know still read.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"
#include "core/Snapshot.h"

namespace wm {

struct SnapshotRecord {
    struct Source {
        Bytes path;        // raw path bytes, not required to be UTF-8
        std::string kind;  // "folder", "wholeMac", ...
        friend bool operator==(const Source&, const Source&) = default;
    };

    // The counts of the run, as the model has them; duration must be finite to be written.
    using Stats = SnapshotStats;

    std::int64_t v = 2;
    UUID id;
    std::uint64_t counter = 0;
    Bytes deviceID;
    std::string deviceName;
    std::optional<UUID> parent;
    Date createdAt;
    std::string hostPlatform;
    std::string appVersion;
    std::vector<Source> sources;
    Bytes rootTree;  // the raw 32 bytes of the root tree's BlobID
    std::optional<std::vector<std::string>> excludeRules;
    Stats stats;
    std::vector<std::string> flags;  // sorted, no duplicates
    std::optional<Date> anomalyDetectedAt;

    // Absent optional fields are left out of the JSON. A duration that is not finite has
    // no JSON form any reader accepts: it throws RepositoryJSON::EncodingError.
    JSON toJSON() const;
    static SnapshotRecord fromJSON(const JSON& json);

    friend bool operator==(const SnapshotRecord&, const SnapshotRecord&) = default;
};

}  // namespace wm

#pragma once
// Retention holds stored in a repository: one signed record file per hold at
// holds/<id>.hold, read back tolerantly (a file that cannot be read, verified or mapped is
// counted and skipped, never thrown).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"
#include "core/RetentionPolicy.h"

namespace wm {

class Repository;

// The record in one hold file. JSON keys are the field names; "note" and "clearedAt" are
// left out when absent.
struct HoldRecord {
    std::int64_t v = 2;
    UUID id;
    // "userRequested", "verificationFailure" or "anomalyDetected".
    std::string reason;
    // The user's note, or a failed verification's snapshot as upper-case UUID text.
    std::optional<std::string> note;
    Date protectsSnapshotsBefore;
    Date createdAt;
    std::optional<Date> clearedAt;

    HoldRecord() = default;
    explicit HoldRecord(const RetentionHold& hold);

    // The hold this record stands for. Nothing for a verification failure whose note is not
    // a snapshot's UUID text. A reason this code does not know reads as a user request whose
    // note is that reason.
    std::optional<RetentionHold> hold() const;

    JSON toJSON() const;
    // Throws RepositoryJSON::DecodingError when a required key is missing or mistyped.
    static HoldRecord fromJSON(const JSON& json);

    friend bool operator==(const HoldRecord&, const HoldRecord&) = default;
};

struct HoldListing {
    std::vector<RetentionHold> holds;  // in the destination's listing order
    std::int64_t unreadable = 0;       // ".hold" files that could not be read, opened or mapped
};

// Stores the hold, replacing any earlier file of the same identity. Sealing and write errors
// are thrown; the earlier file then stays as it was.
void addHold(Repository& repository, const RetentionHold& hold);
// Every hold file under "holds". A listing error is thrown; errors of single files are counted.
HoldListing holds(const Repository& repository);
// The holds of holds() that are not cleared, in the same order.
std::vector<RetentionHold> activeHolds(const Repository& repository);
// Stores the hold again with clearedAt = now (without reading the stored file first).
void clearHold(Repository& repository, const RetentionHold& hold, Date now);

}  // namespace wm

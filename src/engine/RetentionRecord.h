#pragma once
// The repository's retention setting: one signed record at refs/retention naming the rule
// that decides which snapshots pruning may remove. Reading never fails: no readable file
// means no setting, and a file that is there but unusable reads as keep everything.
#include <cstdint>
#include <optional>
#include <string>

#include "core/RepositoryJSON.h"
#include "core/RetentionPolicy.h"

namespace wm {

class Repository;

// The stored record. "v" and "rule" are always written; each number only when present.
struct RetentionRecord {
    std::int64_t v = 2;
    std::string rule;                     // "lastN", "duration", "smart" or "size"
    std::optional<std::int64_t> count;    // lastN
    std::optional<std::int64_t> days;     // duration
    std::optional<std::int64_t> hourly;   // smart
    std::optional<std::int64_t> daily;    // smart
    std::optional<std::int64_t> monthly;  // smart
    std::optional<std::int64_t> yearly;   // smart
    std::optional<std::int64_t> bytes;    // size

    RetentionRecord() = default;
    explicit RetentionRecord(const RetentionPolicy& policy);

    // The policy the record stands for; keepEverything() for a rule this code does not know
    // (letter case counts) or a rule without a number it needs. Numbers pass unchecked.
    RetentionPolicy policy() const;
    // Keeps every snapshot: lastN(INT64_MAX).
    static RetentionPolicy keepEverything();

    JSON toJSON() const;
    // Throws RepositoryJSON::DecodingError when "v" or "rule" is missing, or a key is mistyped.
    static RetentionRecord fromJSON(const JSON& json);

    friend bool operator==(const RetentionRecord&, const RetentionRecord&) = default;
};

// The stored setting. Nothing when refs/retention cannot be read (none set, destination
// unavailable); keepEverything() when the file is there but does not open as a signed
// retention record. Never throws for an ordinary failure.
std::optional<RetentionPolicy> retentionPolicy(const Repository& repository);
// Stores the setting, replacing the earlier one. Sealing and write errors are thrown; the
// earlier file then stays as it was.
void setRetentionPolicy(Repository& repository, const RetentionPolicy& policy);

}  // namespace wm

#pragma once
// The retention model: which snapshots pruning may remove, and the holds that
// protect snapshots whatever the rule says. RetentionEvaluator applies them.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/Date.h"
#include "core/Identifiers.h"

namespace wm {

struct RetentionPolicy {
    enum class Kind { lastN, duration, smart, size };

    Kind kind = Kind::lastN;
    std::int64_t count = std::numeric_limits<std::int64_t>::max();  // lastN
    std::int64_t days = 0;                                          // duration
    std::int64_t hourly = 0, daily = 0, monthly = 0, yearly = 0;    // smart
    std::int64_t bytes = 0;                                         // size

    static RetentionPolicy lastN(std::int64_t n) { return {Kind::lastN, n}; }
    static RetentionPolicy duration(std::int64_t days) {
        RetentionPolicy p{Kind::duration};
        p.days = days;
        return p;
    }
    static RetentionPolicy smart(std::int64_t hourly, std::int64_t daily, std::int64_t monthly, std::int64_t yearly) {
        RetentionPolicy p{Kind::smart};
        p.hourly = hourly;
        p.daily = daily;
        p.monthly = monthly;
        p.yearly = yearly;
        return p;
    }
    static RetentionPolicy size(std::int64_t bytes) {
        RetentionPolicy p{Kind::size};
        p.bytes = bytes;
        return p;
    }

    // Equal when the kinds are equal and so are the numbers that kind uses.
    friend bool operator==(const RetentionPolicy& a, const RetentionPolicy& b);
};

struct HoldReason {
    enum class Kind { userRequested, verificationFailure, anomalyDetected };

    Kind kind = Kind::userRequested;
    std::string note;     // userRequested
    SnapshotID snapshot;  // verificationFailure

    static HoldReason userRequested(std::string note) { return {Kind::userRequested, std::move(note), {}}; }
    static HoldReason verificationFailure(SnapshotID id) { return {Kind::verificationFailure, {}, id}; }
    static HoldReason anomalyDetected() { return {Kind::anomalyDetected, {}, {}}; }

    friend bool operator==(const HoldReason& a, const HoldReason& b);
};

struct RetentionHold {
    HoldID id;
    HoldReason reason;
    Date protectsSnapshotsBefore;
    Date createdAt;
    std::optional<Date> clearedAt;

    bool isActive() const { return !clearedAt.has_value(); }

    friend bool operator==(const RetentionHold&, const RetentionHold&) = default;
};

// The bytes each snapshot adds to storage (the size budget's measure).
struct StoredSizes {
    std::unordered_map<SnapshotID, std::int64_t> addedBytes;

    friend bool operator==(const StoredSizes&, const StoredSizes&) = default;
};

}  // namespace wm

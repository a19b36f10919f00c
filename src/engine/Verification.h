#pragma once
// Verification reads a repository's pack files back from its destination and checks that
// each is still whole, so that damage is found before a restore needs the data. Every pack
// the index names is first checked for presence; then a random sample of them, or every one,
// is read and checked. Each missing or damaged pack becomes one Damage with a short reason,
// and when there is damage, attribution adds which snapshots, files and folders it costs.
// Verification only reads: it writes, repairs and records nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/VerificationSampling.h"

namespace wm {

class Repository;

namespace Verification {

// The most example file paths kept per damaged pack.
inline constexpr std::size_t exampleFileLimit = 20;
// The most phrases naming folders that cannot be listed kept per damaged pack.
inline constexpr std::size_t exampleSubtreeLimit = 20;

struct Depth {
    enum class Kind { sampling, deep };
    Kind kind = Kind::deep;
    double fraction = 1.0;  // sampling: the share of packs to read

    static Depth sampling(double fraction = verificationSampleFraction) { return {Kind::sampling, fraction}; }
    static Depth deep() { return {Kind::deep, 1.0}; }

    // Both deep, or both sampling with fractions equal as numbers (NaN equals nothing).
    friend bool operator==(const Depth& a, const Depth& b) {
        if (a.kind != b.kind) return false;
        return a.kind == Kind::deep || a.fraction == b.fraction;
    }
};

struct Damage {
    PackID pack;
    std::string reason;                         // what is wrong, as a clause about the pack ("it is missing")
    std::vector<SnapshotID> affectedSnapshots;  // snapshots that reach blobs of this pack
    std::vector<std::string> affectedFiles;     // up to exampleFileLimit example paths
    std::int64_t affectedFileCount = 0;         // every file hit, for every listing of its snapshot
    // Folders, or whole snapshots, that cannot be listed: the first exampleSubtreeLimit
    // distinct phrases met.
    std::vector<std::string> unreachableSubtrees;
    // Every path to a tree of this pack that cannot be read, over the distinct snapshots.
    std::int64_t unreachableSubtreeCount = 0;

    friend bool operator==(const Damage&, const Damage&) = default;
};

struct Report {
    Depth depth;
    std::int64_t packsChecked = 0;  // packs read (whatever the outcome) plus packs found missing
    std::int64_t packsTotal = 0;    // distinct packs the index names
    std::uint64_t bytesRead = 0;    // size of the pack files read whole, damaged ones included
    std::vector<Damage> damaged;    // missing packs first, then damaged ones in reading order
    Date startedAt;
    Date finishedAt;  // whole milliseconds

    double duration() const { return finishedAt.timeIntervalSince(startedAt); }
    bool isHealthy() const { return damaged.empty(); }
    bool isFullyVerified() const { return damaged.empty() && packsChecked == packsTotal; }
};

// How many of `checkable` packs a depth reads: all for deep; for sampling, ceil(checkable ×
// fraction), at least one when there are two or more, at most all. A fraction that is not a
// number, or negative infinity, reads one; positive infinity reads all.
std::size_t packsToRead(const Depth& depth, std::size_t checkable);

// The reason text for an error met while reading or checking one pack.
std::string describe(const std::exception& error);

}  // namespace Verification

// Checks the repository's packs at the given depth. The packs the index names are taken
// once, at the start. Throws only when the packs folder or one of its folders cannot be
// listed; every failure of one pack is a Damage instead.
Verification::Report verify(const Repository& repository, const Verification::Depth& depth, Date now);

}  // namespace wm

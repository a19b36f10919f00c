#pragma once
// Applies a retention rule and the active holds to a list of snapshots.
//
// The rules, as a person using a backup tool expects them:
// - lastN(n): the newest n snapshots.
// - duration(days: d): every snapshot younger than d days at `now` (a snapshot dated
//   after `now` counts as young).
// - smart(hourly, daily, monthly, yearly): the newest snapshot in each of the last
//   `hourly` calendar hours, `daily` days, `monthly` months and `yearly` years, counted
//   back from the period that holds `now` (which is the first of them) in the local
//   time zone; a snapshot dated after `now` counts in the current period.
// - size(bytes: b): the newest snapshots whose added bytes, summed newest first, fit
//   within b; counting stops at the first that does not fit. Without stored sizes the
//   budget cannot be judged and everything is kept.
// - Every active hold keeps each snapshot created strictly before its
//   `protectsSnapshotsBefore`; cleared holds keep nothing.
// - Whatever the rule, the newest snapshot is always kept: a rule may thin the
//   history, but never leave a repository with no backup at all (for instance a
//   duration rule after a long pause, or a zero or negative count from a stored setting).
// Numbers are taken as stored: zero or negative counts keep nothing by themselves.
//
// The snapshots are the head's listings: a snapshot listed twice counts twice (for lastN, two
// of the newest n). The evaluator orders references to them and never copies a snapshot, so
// listings that share one decoded snapshot (none of them null) cost one snapshot in all.
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "core/RetentionPolicy.h"
#include "core/Snapshot.h"

namespace wm::RetentionEvaluator {

std::unordered_set<SnapshotID> retained(const std::vector<Snapshot>& snapshots, const RetentionPolicy& policy,
                                        const std::vector<RetentionHold>& holds, Date now,
                                        const std::optional<StoredSizes>& sizes = std::nullopt);
std::unordered_set<SnapshotID> retained(const std::vector<std::shared_ptr<const Snapshot>>& snapshots,
                                        const RetentionPolicy& policy, const std::vector<RetentionHold>& holds,
                                        Date now, const std::optional<StoredSizes>& sizes = std::nullopt);

// createdAt descending; equal dates by counter descending; otherwise stable.
std::vector<Snapshot> newestFirst(std::vector<Snapshot> snapshots);
// The same order of the same shared snapshots, none copied.
std::vector<std::shared_ptr<const Snapshot>> newestFirst(std::vector<std::shared_ptr<const Snapshot>> snapshots);

}  // namespace wm::RetentionEvaluator

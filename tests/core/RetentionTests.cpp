#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <set>
#include <unordered_set>

#include "core/RetentionEvaluator.h"
#include "support/ScopedEnvironment.h"

namespace {

using namespace wm;
using S = std::set<std::size_t>;

constexpr std::int64_t kHour = 3600LL * 1000000;
constexpr std::int64_t kDay = 24 * kHour;
const Date kNow{1796590835000000};  // 2026-12-06T21:00:35Z

class Retention : public ::testing::Test {
protected:
    // Calendar periods are local: the zone is pinned so the buckets are known.
    test::ScopedEnvironment zone{"TZ", "UTC"};

    Snapshot make(std::int64_t ageMicros, std::uint64_t counter = 0) {
        Snapshot s;
        s.id = SnapshotID::random();
        s.createdAt = Date{kNow.microseconds - ageMicros};
        s.counter = counter;
        return s;
    }

    // Indices (into `all`) of the retained snapshots. The same listings as shared snapshots
    // are decided alike.
    std::set<std::size_t> kept(const std::vector<Snapshot>& all, const RetentionPolicy& policy,
                               const std::vector<RetentionHold>& holds = {},
                               const std::optional<StoredSizes>& sizes = std::nullopt) {
        auto ids = RetentionEvaluator::retained(all, policy, holds, kNow, sizes);
        std::vector<std::shared_ptr<const Snapshot>> shared;
        for (const Snapshot& s : all) shared.push_back(std::make_shared<const Snapshot>(s));
        EXPECT_EQ(RetentionEvaluator::retained(shared, policy, holds, kNow, sizes), ids);
        std::set<std::size_t> out;
        std::unordered_set<SnapshotID> found;
        for (std::size_t i = 0; i < all.size(); ++i)
            if (ids.count(all[i].id)) out.insert(i), found.insert(all[i].id);
        EXPECT_EQ(found.size(), ids.size()) << "an identity outside the input was retained";
        return out;
    }
};

TEST_F(Retention, LastN) {
    std::vector<Snapshot> all = {make(3 * kDay), make(1 * kDay), make(5 * kDay), make(2 * kDay)};
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(2)), (S{1, 3}));
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(std::numeric_limits<std::int64_t>::max())).size(), 4u);
    // Zero or negative counts from a stored setting still leave the newest.
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(0)), (S{1}));
}

TEST_F(Retention, Duration) {
    std::vector<Snapshot> all = {make(-kHour), make(0), make(7 * kDay - 1), make(7 * kDay), make(30 * kDay)};
    EXPECT_EQ(kept(all, RetentionPolicy::duration(7)), (S{0, 1, 2}));
    // After a long pause every snapshot is older than the limit; the newest stays.
    std::vector<Snapshot> paused = {make(40 * kDay), make(50 * kDay)};
    EXPECT_EQ(kept(paused, RetentionPolicy::duration(30)), (S{0}));
}

TEST_F(Retention, SmartKeepsTheNewestPerPeriod) {
    // now is 21:00:35 UTC on 2026-12-06.
    std::vector<Snapshot> all = {
        make(20 * 1000000LL),       // 0: 21:00:15, current hour
        make(30 * 1000000LL),       // 1: 21:00:05, current hour, older
        make(10 * 60 * 1000000LL),  // 2: 20:50:35, previous hour
        make(5 * kHour),            // 3: 16:00:35, today
        make(kDay),                 // 4: yesterday 21:00:35, 24 hours back
        make(kDay + kHour),         // 5: yesterday 20:00:35
        make(40 * kDay),            // 6: 27 October
        make(45 * kDay),            // 7: 22 October, older
        make(400 * kDay),           // 8: 1 November of the previous year
    };
    EXPECT_EQ(kept(all, RetentionPolicy::smart(2, 0, 0, 0)), (S{0, 2}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(0, 2, 0, 0)), (S{0, 4}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(0, 0, 3, 0)), (S{0, 6}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(0, 0, 0, 2)), (S{0, 8}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(25, 0, 0, 0)), (S{0, 2, 3, 4}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(24, 7, 12, 5)), (S{0, 2, 3, 4, 6, 8}));
    EXPECT_EQ(kept(all, RetentionPolicy::smart(-1, -1, -1, -1)), (S{0}));
    // A snapshot dated after now counts in the current hour, and is the newest there.
    std::vector<Snapshot> future = {make(-kDay), make(10LL * 60 * 1000000)};
    EXPECT_EQ(kept(future, RetentionPolicy::smart(1, 0, 0, 0)), (S{0}));
}

TEST_F(Retention, SizeBudget) {
    std::vector<Snapshot> all = {make(1 * kDay), make(2 * kDay), make(3 * kDay), make(4 * kDay)};
    StoredSizes sizes;
    sizes.addedBytes = {{all[0].id, 600}, {all[1].id, 300}, {all[2].id, 200}, {all[3].id, 1}};
    EXPECT_EQ(kept(all, RetentionPolicy::size(900), {}, sizes), (S{0, 1}));
    // Counting stops at the first snapshot that does not fit.
    EXPECT_EQ(kept(all, RetentionPolicy::size(1100), {}, sizes), (S{0, 1, 2}));
    EXPECT_EQ(kept(all, RetentionPolicy::size(-1), {}, sizes), (S{0}));
    // Sizes near the top of the range saturate instead of wrapping into the budget.
    StoredSizes huge;
    huge.addedBytes = {{all[0].id, std::numeric_limits<std::int64_t>::max()},
                       {all[1].id, std::numeric_limits<std::int64_t>::max()},
                       {all[2].id, -5}};
    EXPECT_EQ(kept(all, RetentionPolicy::size(std::numeric_limits<std::int64_t>::max()), {}, huge), (S{0}));
    // Missing entries count as nothing added; without sizes everything is kept.
    EXPECT_EQ(kept(all, RetentionPolicy::size(0), {}, StoredSizes{}).size(), 4u);
}

TEST_F(Retention, ActiveHoldsProtectOlderSnapshots) {
    std::vector<Snapshot> all = {make(1 * kDay), make(10 * kDay), make(20 * kDay), make(30 * kDay)};
    RetentionHold hold{HoldID::random(), HoldReason::anomalyDetected(), all[2].createdAt, kNow, std::nullopt};
    // Strictly before: the snapshot at the hold's own time is not protected.
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(1), {hold}), (S{0, 3}));
    hold.protectsSnapshotsBefore = Date{all[2].createdAt.microseconds + 1};
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(1), {hold}), (S{0, 2, 3}));
    RetentionHold cleared = hold;
    cleared.clearedAt = kNow;
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(1), {cleared}), (S{0}));
}

TEST_F(Retention, NewestFirstOrder) {
    // Same date: higher counter first; equal date and counter: input order kept.
    std::vector<Snapshot> all = {make(2 * kDay, 1), make(kDay, 5), make(kDay, 9), make(kDay, 5), make(3 * kDay, 7)};
    std::vector<SnapshotID> ids;
    for (const Snapshot& s : RetentionEvaluator::newestFirst(all)) ids.push_back(s.id);
    EXPECT_EQ(ids, (std::vector{all[2].id, all[1].id, all[3].id, all[0].id, all[4].id}));
    // Shared snapshots are ordered alike.
    std::vector<std::shared_ptr<const Snapshot>> shared;
    for (const Snapshot& s : all) shared.push_back(std::make_shared<const Snapshot>(s));
    const auto ordered = RetentionEvaluator::newestFirst(shared);
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(ordered[i]->id, ids[i]) << i;
}

// A snapshot the head lists again counts at each listing, whether the listings are copies or
// share one snapshot: two listings of the newest fill a count of two.
TEST_F(Retention, EachListingCounts) {
    Snapshot newest = make(kDay);
    newest.deviceName = std::string(100'000, 'd');
    const std::vector<Snapshot> all = {make(2 * kDay), newest, newest, make(3 * kDay)};
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(2)), (S{1, 2}));
    EXPECT_EQ(kept(all, RetentionPolicy::lastN(3)), (S{0, 1, 2}));
    StoredSizes sizes;
    sizes.addedBytes = {{newest.id, 400}, {all[0].id, 1}};
    EXPECT_EQ(kept(all, RetentionPolicy::size(800), {}, sizes), (S{1, 2}));
    const auto one = std::make_shared<const Snapshot>(newest);
    const std::vector<std::shared_ptr<const Snapshot>> listed(1000, one);
    EXPECT_EQ(RetentionEvaluator::retained(listed, RetentionPolicy::lastN(1), {}, kNow), std::unordered_set{newest.id});
    // Ordering references copies no snapshot: every listing still refers to the one.
    const auto ordered = RetentionEvaluator::newestFirst(listed);
    EXPECT_TRUE(std::all_of(ordered.begin(), ordered.end(), [&](const auto& s) { return s == one; }));
    EXPECT_EQ(one.use_count(), 2001);
}

}  // namespace

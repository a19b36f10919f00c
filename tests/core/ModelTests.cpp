#include <gtest/gtest.h>

#include <limits>

#include "core/DestinationHealth.h"
#include "core/RepositoryLock.h"
#include "core/Saturating.h"
#include "core/Snapshot.h"
#include "core/SparseLayout.h"

namespace {

using namespace wm;
using SparseLayout::Region;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(SparseLayout, DataRegions) {
    struct Case {
        const char* name;
        std::uint64_t size;
        std::vector<Region> holes;
        std::vector<Region> expected;
    };
    const std::vector<Case> cases = {
        {"empty file", 0, {{0, 10}}, {}},
        {"no holes", 100, {}, {{0, 100}}},
        {"hole in the middle", 100, {{40, 20}}, {{0, 40}, {60, 40}}},
        {"hole at the start", 100, {{0, 10}}, {{10, 90}}},
        {"hole at the end", 100, {{90, 10}}, {{0, 90}}},
        {"all hole", 100, {{0, 100}}, {}},
        {"hole past the end is clipped", 100, {{80, 1000}}, {{0, 80}}},
        {"hole beyond the size is dropped", 100, {{100, 5}, {200, 5}}, {{0, 100}}},
        {"empty hole dropped", 100, {{50, 0}}, {{0, 100}}},
        {"unsorted, overlapping and touching holes merge",
         100,
         {{50, 10}, {10, 10}, {15, 10}, {25, 5}, {55, 2}},
         {{0, 10}, {30, 20}, {60, 40}}},
        {"hole near 2^64 does not wrap", kMax, {{kMax - 5, 100}}, {{0, kMax - 5}}},
        {"huge hole from 1 covers the rest", 1000, {{1, kMax}}, {{0, 1}}},
        {"hole ending exactly at 2^64-1", kMax, {{10, kMax - 10}}, {{0, 10}}},
    };
    for (const Case& c : cases) EXPECT_EQ(SparseLayout::dataRegions(c.size, c.holes), c.expected) << c.name;
    EXPECT_EQ((Region{kMax, 10}.end()), kMax);
}

TEST(DestinationHealth, CountsFaultsKeepsTheFirstTimeAndSaturates) {
    DestinationHealth health;
    health.recordFault(DestinationHealth::Fault::badRead, Date{10});
    health.recordFault(DestinationHealth::Fault::lostWrite, Date{20});
    health.badReads = std::numeric_limits<std::int64_t>::max();
    health.recordFault(DestinationHealth::Fault::badRead, Date{40});
    EXPECT_EQ(health.badReads, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(health.firstFaultAt, Date{10});
}

TEST(AnomalyReport, SignalsAtTheThresholds) {
    const Date now{1000};
    // Too few files, under half, nothing known before.
    for (AnomalyReport::Changes c :
         {AnomalyReport::Changes{1000, 10, 10}, {150, 99, 0}, {1000, 499, 499}, {0, 500, 500}})
        EXPECT_FALSE(AnomalyReport::evaluate(c, now));
    auto deleted = AnomalyReport::evaluate({1000, 500, 0}, now);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->signals, (std::vector{AnomalySignal{AnomalySignal::Kind::manyDeleted, 500, 1000}}));
    EXPECT_EQ(AnomalyReport::evaluate({200, 100, 150}, now)->signals.size(), 2u);
}

TEST(Date, PrecisionRoundsHalfAwayFromZeroAndStaysInRange) {
    const std::pair<std::int64_t, std::int64_t> rounded[] = {
        {1499, 1000},
        {1500, 2000},
        {-1500, -2000},
        {-1499, -1000},
        {std::numeric_limits<std::int64_t>::max(), 9223372036854775000LL},
        {std::numeric_limits<std::int64_t>::min(), -9223372036854775000LL}};
    for (const auto& [in, out] : rounded) EXPECT_EQ(Date{in}.repositoryPrecision().microseconds, out) << in;
    EXPECT_EQ(Date::fromSeconds(1e300).microseconds, std::numeric_limits<std::int64_t>::max());
    // Rounded down instead: never later, and at the very start the millisecond after.
    const std::pair<std::int64_t, std::int64_t> down[] = {
        {1999, 1000}, {-1, -1000}, {-1000, -1000}, {std::numeric_limits<std::int64_t>::min(), -9223372036854775000LL}};
    for (const auto& [in, out] : down) EXPECT_EQ(Date{in}.wholeMillisecondsBefore().microseconds, out) << in;
}

TEST(Saturating, SumsStopAtEitherEndOfTheType) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max(), min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(saturatingAdd(max, 1), max);
    EXPECT_EQ(saturatingAdd(min, -1), min);
    EXPECT_EQ(saturatingAdd(std::int64_t{-5}, 3), -2);
    EXPECT_EQ(saturatingAdd(std::numeric_limits<std::uint64_t>::max() - 1, 5),
              std::numeric_limits<std::uint64_t>::max());
}

// Dates read from files reach the whole int64 range; the seconds between two of them must
// not wrap round (a heartbeat written as the year -290300 is stale, not fresh).
TEST(Date, IntervalsAcrossTheWholeRange) {
    const Date earliest{std::numeric_limits<std::int64_t>::min()};
    const Date latest{std::numeric_limits<std::int64_t>::max()};
    EXPECT_GT(latest.timeIntervalSince(earliest), 1.8e13);
    EXPECT_LT(earliest.timeIntervalSince(latest), -1.8e13);
    const auto lock = RepositoryLock::fromJSON(RepositoryJSON::decode(
        viewOf(R"({"acquiredAt":"-290300-01-01T00:00:00.000Z","deviceID":"aa","deviceName":"Old",)"
               R"("heartbeatAt":"-290300-01-01T00:00:00.000Z"})")));
    const Date now{1796590835000000};
    EXPECT_EQ(RepositoryLock::evaluate(lock, "bb", now), RepositoryLock::Verdict::takenOver("Old"));
    // A heartbeat in the future is fresh.
    const RepositoryLock ahead{"Studio", "aa", now, now.adding(3600)};
    EXPECT_EQ(RepositoryLock::evaluate(ahead, "bb", now).kind, RepositoryLock::Verdict::Kind::heldBy);
}

}  // namespace

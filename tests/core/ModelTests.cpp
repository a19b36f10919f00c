#include <gtest/gtest.h>

#include <limits>

#include "core/DestinationHealth.h"
#include "core/RepositoryLock.h"
#include "core/Saturating.h"
#include "core/Snapshot.h"
#include "core/SparseLayout.h"
#include "support/DataTable.h"

namespace {

using namespace wm;
using SparseLayout::Region;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(SparseLayout, DataRegions) {
    auto number = [](const std::string& n) {
        return n.starts_with("max") ? kMax - (n.size() > 4 ? std::stoull(n.substr(4)) : 0) : std::stoull(n);
    };
    auto regions = [&](const std::string& text) {
        std::vector<Region> out;
        for (const auto& r : text.empty() ? std::vector<std::string>{} : test::split(text, ' ')) {
            const auto plus = r.find('+');
            out.push_back({number(r.substr(0, plus)), number(r.substr(plus + 1))});
        }
        return out;
    };
    for (const auto& row : test::dataTable("core/sparse-layout.tsv", 3))
        EXPECT_EQ(SparseLayout::dataRegions(number(row[0]), regions(row[1])), regions(row[2]))
            << row[0] << " " << row[1];
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
    auto micros = [](Date (Date::*bring)() const) {
        return [bring](const std::string& in) { return std::to_string((Date{std::stoll(in)}.*bring)().microseconds); };
    };
    test::expectAnswers("core/date-precision.tsv", {{"rounded", micros(&Date::repositoryPrecision)},
                                                    {"down", micros(&Date::wholeMillisecondsBefore)}});
    EXPECT_EQ(Date::fromSeconds(1e300).microseconds, std::numeric_limits<std::int64_t>::max());
}

TEST(Saturating, SumsAndProductsStopAtEitherEndOfTheType) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max(), min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(saturatingAdd(max, 1), max);
    EXPECT_EQ(saturatingAdd(min, -1), min);
    EXPECT_EQ(saturatingAdd(std::int64_t{-5}, 3), -2);
    EXPECT_EQ(saturatingAdd(std::numeric_limits<std::uint64_t>::max() - 1, 5),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(saturatingMultiply(std::int64_t{1} << 40, 1 << 30), max);
    EXPECT_EQ(saturatingMultiply(max / 2, 2), max - 1);
    EXPECT_EQ(saturatingMultiply(std::int64_t{-3} << 61, 5), min);
    EXPECT_EQ(saturatingMultiply(min, -1), max);
    EXPECT_EQ(saturatingMultiply(std::uint64_t{1} << 63, 2), std::numeric_limits<std::uint64_t>::max());
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

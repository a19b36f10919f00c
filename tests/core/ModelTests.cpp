#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "core/DestinationHealth.h"
#include "core/Error.h"
#include "core/RepositoryLock.h"
#include "core/Snapshot.h"
#include "core/SparseLayout.h"
#include "core/UserPresentableError.h"

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
        {"unsorted, overlapping and touching holes merge", 100, {{50, 10}, {10, 10}, {15, 10}, {25, 5}, {55, 2}},
         {{0, 10}, {30, 20}, {60, 40}}},
        {"hole near 2^64 does not wrap", kMax, {{kMax - 5, 100}}, {{0, kMax - 5}}},
        {"huge hole from 1 covers the rest", 1000, {{1, kMax}}, {{0, 1}}},
        {"hole ending exactly at 2^64-1", kMax, {{10, kMax - 10}}, {{0, 10}}},
    };
    for (const Case& c : cases) EXPECT_EQ(SparseLayout::dataRegions(c.size, c.holes), c.expected) << c.name;
    EXPECT_EQ((Region{kMax, 10}.end()), kMax);
    EXPECT_EQ((Region{5, 10}.end()), 15u);
}

TEST(RepositoryLock, Evaluate) {
    const Date now{1796590835000000};
    const Date hourAgo = now.adding(-3600);
    RepositoryLock other{"Studio", "aa", hourAgo, now.adding(-300)};
    EXPECT_EQ(RepositoryLock::evaluate(std::nullopt, "bb", now), RepositoryLock::Verdict::free());
    EXPECT_EQ(RepositoryLock::evaluate(other, "bb", now), RepositoryLock::Verdict::heldBy("Studio", hourAgo));
    EXPECT_TRUE(RepositoryLock::evaluate(other, "bb", now).forbidsWriting());
    other.heartbeatAt = now.adding(-300.001);
    EXPECT_EQ(RepositoryLock::evaluate(other, "bb", now), RepositoryLock::Verdict::takenOver("Studio"));
    EXPECT_FALSE(RepositoryLock::evaluate(other, "bb", now).forbidsWriting());
    // The holder's own lock never goes stale for it.
    other.heartbeatAt = now.adding(-86400);
    EXPECT_EQ(RepositoryLock::evaluate(other, "aa", now), RepositoryLock::Verdict::mine());
    // A heartbeat in the future is fresh.
    other.heartbeatAt = now.adding(3600);
    EXPECT_EQ(RepositoryLock::evaluate(other, "bb", now).kind, RepositoryLock::Verdict::Kind::heldBy);
}

TEST(DestinationHealth, CountsFaultsKeepsTheFirstTimeAndSaturates) {
    DestinationHealth health;
    health.recordFault(DestinationHealth::Fault::badRead, Date{10});
    health.recordFault(DestinationHealth::Fault::lostWrite, Date{20});
    health.recordFault(DestinationHealth::Fault::badRead, Date{40});
    EXPECT_EQ(health.badReads, 2);
    EXPECT_EQ(health.lostWrites, 1);
    EXPECT_EQ(health.firstFaultAt, Date{10});
    health.badReads = std::numeric_limits<std::int64_t>::max();
    health.recordFault(DestinationHealth::Fault::badRead, Date{50});
    EXPECT_EQ(health.badReads, std::numeric_limits<std::int64_t>::max());
}

TEST(AnomalyReport, SignalsAtTheThresholds) {
    const Date now{1000};
    EXPECT_FALSE(AnomalyReport::evaluate({1000, 10, 10}, now));
    EXPECT_FALSE(AnomalyReport::evaluate({150, 99, 0}, now));     // too few files
    EXPECT_FALSE(AnomalyReport::evaluate({1000, 499, 499}, now));  // under half
    EXPECT_FALSE(AnomalyReport::evaluate({0, 500, 500}, now));     // nothing known before
    auto deleted = AnomalyReport::evaluate({1000, 500, 0}, now);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->detectedAt, now);
    ASSERT_EQ(deleted->signals.size(), 1u);
    EXPECT_EQ(deleted->signals[0], (AnomalySignal{AnomalySignal::Kind::manyDeleted, 500, 1000}));
    auto both = AnomalyReport::evaluate({200, 100, 150}, now);
    ASSERT_TRUE(both);
    EXPECT_EQ(both->signals.size(), 2u);
}

class WordedError : public Error, public UserPresentableError {
public:
    WordedError() : Error("Worded.Error.driveGone") {}
    std::string userSentence() const override { return "The backup drive is not connected. Connect it and try again."; }
    std::optional<RecoveryAction> recoveryAction() const override { return RecoveryAction::reconnectDrive; }
    bool isTransient() const override { return true; }
};

TEST(PresentedError, WordedErrorsGiveTheirSentenceOthersTheirDescription) {
    PresentedError worded = PresentedError::from(WordedError(), PresentedError::Category::storage, Date{42});
    EXPECT_EQ(worded.sentence, "The backup drive is not connected. Connect it and try again.");
    EXPECT_EQ(worded.recovery, RecoveryAction::reconnectDrive);
    EXPECT_TRUE(worded.isTransient);
    EXPECT_EQ(worded.technicalDetail, "Worded.Error.driveGone");

    PresentedError plain = PresentedError::from(std::runtime_error("Something.Error.other"));
    EXPECT_EQ(plain.sentence, "Something.Error.other");
    EXPECT_FALSE(plain.recovery);
    EXPECT_FALSE(plain.isTransient);
    EXPECT_NE(plain.id, worded.id);
    EXPECT_EQ(recoveryActionLabel(RecoveryAction::tryAgain), "Try Again");
}

TEST(Date, PrecisionAndSentinels) {
    EXPECT_EQ(Date{1499}.repositoryPrecision(), Date{1000});
    EXPECT_EQ(Date{1500}.repositoryPrecision(), Date{2000});
    EXPECT_EQ(Date{-1500}.repositoryPrecision(), Date{-2000});
    EXPECT_EQ(Date{-1499}.repositoryPrecision(), Date{-1000});
    // The ends of the range stay inside it.
    EXPECT_EQ(Date{std::numeric_limits<std::int64_t>::max()}.repositoryPrecision().microseconds,
              9223372036854775000LL);
    EXPECT_EQ(Date{std::numeric_limits<std::int64_t>::min()}.repositoryPrecision().microseconds,
              -9223372036854775000LL);
    EXPECT_EQ(Date::distantPast().repositoryPrecision(), Date::distantPast());
    EXPECT_LT(Date::distantPast(), Date{0});
    EXPECT_EQ(Date::repositoryNow().microseconds % 1000, 0);
    // Exact thresholds: 172,800 s is exactly two days.
    const Date a{1796590835000000};
    EXPECT_EQ(a.timeIntervalSince(a.adding(-172800)), 172800.0);
    EXPECT_EQ(Date::fromSeconds(1e300).microseconds, std::numeric_limits<std::int64_t>::max());
}

// Dates read from files reach the whole int64 range; the seconds between two of them must
// not wrap round (a heartbeat written as the year -290300 is stale, not fresh).
TEST(Date, IntervalsAcrossTheWholeRange) {
    const Date earliest{std::numeric_limits<std::int64_t>::min()};
    const Date latest{std::numeric_limits<std::int64_t>::max()};
    EXPECT_GT(latest.timeIntervalSince(earliest), 1.8e13);
    EXPECT_LT(earliest.timeIntervalSince(latest), -1.8e13);
    EXPECT_GT(Date::now().timeIntervalSince(earliest), 9.2e12);

    const auto lock = RepositoryLock::fromJSON(RepositoryJSON::decode(viewOf(
        R"({"acquiredAt":"-290300-01-01T00:00:00.000Z","deviceID":"aa","deviceName":"Old",)"
        R"("heartbeatAt":"-290300-01-01T00:00:00.000Z"})")));
    EXPECT_EQ(RepositoryLock::evaluate(lock, "bb", Date{1796590835000000}), RepositoryLock::Verdict::takenOver("Old"));
}

}  // namespace

// Records that decide when to verify, to ask about the recovery key and to ask for a
// review: every threshold at its value and a second either side, and their stored forms.
#include <gtest/gtest.h>

#include "policy/KeyReminder.h"
#include "policy/ReviewPrompt.h"
#include "policy/VerificationSchedule.h"

namespace {

using namespace wm;

const Date kNow = Date::fromSeconds(1796590835);
const double kDay = 86400;
std::optional<Date> ago(std::optional<double> seconds) {
    return seconds ? std::optional(kNow.adding(-*seconds)) : std::nullopt;
}

template <class Record>
void expectStoredForm(const Record& full, const char* requiredKey, const JSON& smallest) {
    EXPECT_EQ(Record::fromJSON(full.toJSON()), full);
    JSON missing = full.toJSON();
    missing.erase(requiredKey);
    EXPECT_THROW(Record::fromJSON(missing), RepositoryJSON::DecodingError);
    EXPECT_EQ(Record::fromJSON(smallest).toJSON(), smallest);  // missing optional keys read as absent
}

TEST(VerificationSchedule, DueAtItsThresholds) {
    using Due = VerificationSchedule::Due;
    const double full = VerificationSchedule::fullEvery, sample = VerificationSchedule::sampleEvery;
    const std::tuple<std::optional<double>, std::optional<double>, bool, Due> cases[] = {  // sample, full ago
        {std::nullopt, std::nullopt, true, Due::full}, {std::nullopt, std::nullopt, false, Due::nothing},
        {0, full, true, Due::full},                    {sample, full - 1, true, Due::sample},
        {sample - 1, full - 1, true, Due::nothing},    {std::nullopt, 0, true, Due::sample},
        {6 * kDay, 89 * kDay, true, Due::nothing},     {-sample, -full, true, Due::nothing},
    };
    for (const auto& [lastSample, lastFull, idle, due] : cases)
        EXPECT_EQ((VerificationSchedule{ago(lastSample), ago(lastFull)}.due(kNow, idle)), due);
    const auto afterFull = VerificationSchedule{}.recorded(Due::full, kNow);
    EXPECT_EQ(afterFull.due(kNow.adding(sample - 1), true), Due::nothing);
    EXPECT_EQ(afterFull.due(kNow.adding(sample), true), Due::sample);
    EXPECT_EQ(afterFull.due(kNow.adding(full), true), Due::full);
    EXPECT_EQ(afterFull.recorded(Due::nothing, kNow.adding(full)), afterFull);
    EXPECT_EQ(VerificationSchedule::depth(Due::full, false), VerificationSchedule::Depth::sample);
    EXPECT_EQ(VerificationSchedule::depth(Due::full, true), VerificationSchedule::Depth::everything);
    EXPECT_EQ(VerificationSchedule{}.toJSON(), JSON::object());
    EXPECT_EQ(VerificationSchedule::fromJSON(afterFull.toJSON()), afterFull);
    EXPECT_EQ(VerificationSchedule::fromJSON(JSON::parse(R"({"lastFull": null})")), VerificationSchedule{});
}

TEST(KeyReminder, AsksAfterSettlingInAndEveryHalfYear) {
    const double every = KeyReminder::askEvery, settling = KeyReminder::settlingIn;
    const std::tuple<double, std::optional<double>, std::optional<double>, bool, bool> cases[] = {
        // created, confirmed, asked ago; declined; ask
        {29 * kDay, std::nullopt, std::nullopt, false, false}, {settling, std::nullopt, std::nullopt, false, false},
        {every, std::nullopt, std::nullopt, false, true},      {every - 1, std::nullopt, std::nullopt, false, false},
        {400 * kDay, std::nullopt, every - 1, false, false},   {400 * kDay, std::nullopt, every, false, true},
        {400 * kDay, 200 * kDay, kDay, false, true},           {400 * kDay, 200 * kDay, kDay, true, false},
        {settling - 1, 400 * kDay, std::nullopt, false, false},
    };
    for (const auto& [created, confirmed, asked, declined, ask] : cases)
        EXPECT_EQ((KeyReminder{ago(confirmed), ago(asked), declined}.shouldAsk(kNow, *ago(created))), ask);
    const auto again = KeyReminder{}.confirmed(kNow.adding(-every));
    EXPECT_TRUE(again.shouldAsk(kNow, kNow.adding(-400 * kDay)));
    EXPECT_FALSE(again.declined().confirmed(kNow).shouldAsk(kNow.adding(every * 9), kNow.adding(-400 * kDay)));
    expectStoredForm(KeyReminder{ago(1), ago(2), true}, "declinedToCheck", JSON{{"declinedToCheck", false}});
}

TEST(ReviewPrompt, AsksOnlyAfterGoodMomentsWithinItsLimits) {
    using Moment = ReviewPrompt::Moment;
    const double settling = ReviewPrompt::settlingIn, between = ReviewPrompt::minimumBetweenAsks;
    const ReviewPrompt ready{5, ago(settling), std::nullopt, 0, false};
    const auto with = [&](auto change) { ReviewPrompt p = ready; change(p); return p; };
    const std::tuple<ReviewPrompt, Moment, bool> cases[] = {
        {ready, Moment::backupSucceeded, true}, {ready, Moment::verificationPassed, true},
        {ready, Moment::restoreFinished, false}, {ready, Moment::somethingWentWrong, false}, {ready, Moment::ordinary, false},
        {with([](auto& p) { p.successfulBackups = 4; }), Moment::backupSucceeded, false},
        {with([](auto& p) { p.firstUsed.reset(); }), Moment::backupSucceeded, false},
        {with([&](auto& p) { p.firstUsed = ago(settling - 1); }), Moment::backupSucceeded, false},
        {with([&](auto& p) { p.lastAsked = ago(between), p.timesAsked = 1; }), Moment::backupSucceeded, true},
        {with([&](auto& p) { p.lastAsked = ago(between - 1), p.timesAsked = 1; }), Moment::backupSucceeded, false},
        {with([&](auto& p) { p.lastAsked = ago(900 * kDay), p.timesAsked = 2; }), Moment::backupSucceeded, false},
        {ready.declined(), Moment::backupSucceeded, false},
    };
    for (const auto& [prompt, moment, ask] : cases) EXPECT_EQ(prompt.shouldAsk(moment, kNow), ask);
    const auto twice = ready.asked(kNow.adding(-900 * kDay)).asked(kNow.adding(-300 * kDay));
    EXPECT_EQ(twice.timesAsked, 2);
    EXPECT_FALSE(twice.shouldAsk(Moment::backupSucceeded, kNow));
    EXPECT_EQ(with([](auto& p) { p.timesAsked = INT64_MAX; }).asked(kNow).timesAsked, INT64_MAX);
    expectStoredForm(twice, "timesAsked", JSON{{"successfulBackups", 5}, {"timesAsked", 2}, {"everDeclined", false}});
}

}  // namespace

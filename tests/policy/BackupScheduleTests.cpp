// When backups, verifications and reminders are due (every threshold at its value and a
// second either side), and the stored forms of the policy records.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "policy/BackupSchedule.h"
#include "policy/BackupWindow.h"
#include "policy/DriveRotation.h"
#include "policy/Exclusions.h"
#include "policy/KeyReminder.h"
#include "policy/ReviewPrompt.h"
#include "policy/SourceSelection.h"
#include "policy/VerificationSchedule.h"
#include "support/DataTable.h"

namespace {

using namespace wm;
using Standing = BackupSchedule::Standing;

const Date kNow = Date::fromSeconds(1796590835);  // 2026-12-06T21:00:35Z
Date ago(double seconds) { return kNow.adding(-seconds); }
std::optional<Date> agoOrAbsent(const std::string& field) {
    return field == "-" ? std::nullopt : std::optional(ago(std::stod(field)));
}
std::string secondsAgo(Date d) { return std::to_string(static_cast<long long>(kNow.timeIntervalSince(d))); }

// "overdue success=172801 by=86401": the case, then its times in seconds before now.
std::string describe(const Standing& s) {
    static const char* const kinds[] = {"manual", "upToDate", "failing", "overdue", "neverRun"};
    std::string out = kinds[static_cast<int>(s.kind)];
    if (s.kind == Standing::Kind::failing) out += " since=" + secondsAgo(s.since);
    if (s.lastSuccess) out += " success=" + secondsAgo(*s.lastSuccess);
    if (s.next) out += " next=" + secondsAgo(*s.next);
    if (s.kind == Standing::Kind::overdue) out += " by=" + std::to_string(static_cast<long long>(s.by));
    return out;
}

// schedule-standings.tsv: a schedule (frequency, attempt and success in seconds before now,
// failure, file count; "-" for absent), then its standing, headline, verdicts and detail.
TEST(BackupSchedule, StandingAndItsWordingAtTheThresholds) {
    for (const auto& row : test::dataTable("policy/schedule-standings.tsv", 9)) {
        const BackupSchedule schedule(BackupFrequency::fromRawValue(row[0]).value(), agoOrAbsent(row[1]),
                                      agoOrAbsent(row[2]), row[3] == "-" ? std::nullopt : std::optional(row[3]));
        const auto files = row[4] == "-" ? std::nullopt : std::optional<std::uint64_t>(std::stoull(row[4]));
        const Standing standing = schedule.standing(kNow);
        const std::string verdicts = standing.isGood() ? "good" : standing.needsAttention() ? "attention" : "neutral";
        EXPECT_EQ(describe(standing), row[5]) << row[8];
        EXPECT_EQ(standing.headline(), row[6]) << row[5];
        EXPECT_EQ(verdicts, row[7]) << row[5];
        EXPECT_EQ(standing.detail(files, kNow), row[8]) << row[5];
    }
    EXPECT_EQ(Standing::overdue(std::nullopt, 5).detail(3, kNow), "No backup has ever succeeded.");
}

TEST(BackupSchedule, DueTimes) {
    const BackupSchedule manual{BackupFrequency::manual, ago(1e7)}, never{BackupFrequency::daily},
        daily{BackupFrequency::daily, ago(86400), ago(86400)};
    EXPECT_FALSE(manual.isDue(kNow) || manual.nextDue(kNow));
    EXPECT_TRUE(never.isDue(kNow));
    EXPECT_EQ(never.nextDue(kNow), kNow);
    EXPECT_TRUE(daily.isDue(kNow));  // due exactly now
    EXPECT_FALSE(daily.isDue(ago(1)));
    EXPECT_EQ(daily.nextDue(kNow.adding(1e6)), kNow);  // even when that lies in the past
}

TEST(BackupSchedule, AdoptOnlyMovesTheSuccessForward) {
    const auto adopted = [](BackupSchedule s, std::optional<Date> newest) { return s.adopt(newest), s; };
    const BackupSchedule start{BackupFrequency::daily, ago(50), ago(100), "x"};
    for (std::optional<Date> newest : {std::optional<Date>{}, std::optional(ago(200)), std::optional(ago(100))})
        EXPECT_EQ(adopted(start, newest), start);
    EXPECT_EQ(adopted(start, ago(10)), (BackupSchedule{BackupFrequency::daily, ago(50), ago(10), "x"}));
    EXPECT_EQ(adopted(BackupSchedule{BackupFrequency::daily}, ago(1)).lastSuccess, ago(1));
}

JSON withoutNulls(JSON value) {
    if (!value.is_object()) return value;
    JSON out = JSON::object();
    for (auto& [key, member] : value.items())
        if (!member.is_null()) out[key] = withoutNulls(member);
    return out;
}

// stored-forms.tsv: "<record>\t<ok|damaged>\t<JSON>". An ok record reads back and writes
// the same JSON (null values left out); a damaged one is refused with a decoding error.
TEST(StoredForm, RecordsReadBackAndDamageIsRefused) {
    const std::map<std::string, std::function<JSON(const JSON&)>> again = {
        {"schedule", [](const JSON& j) { return BackupSchedule::fromJSON(j).toJSON(); }},
        {"exclusions", [](const JSON& j) { return Exclusions::fromJSON(j).toJSON(); }},
        {"sources", [](const JSON& j) { return SourceSelection::fromJSON(j).toJSON(); }},
        {"window", [](const JSON& j) { return BackupWindow::fromJSON(j).toJSON(); }},
        {"rotation", [](const JSON& j) { return DriveRotation::fromJSON(j).toJSON(); }},
        {"verification", [](const JSON& j) { return VerificationSchedule::fromJSON(j).toJSON(); }},
        {"reminder", [](const JSON& j) { return KeyReminder::fromJSON(j).toJSON(); }},
        {"prompt", [](const JSON& j) { return ReviewPrompt::fromJSON(j).toJSON(); }},
    };
    for (const auto& row : test::dataTable("policy/stored-forms.tsv", 3)) {
        const JSON json = JSON::parse(row[2]);
        if (row[1] == "ok")
            EXPECT_EQ(again.at(row[0])(json), withoutNulls(json)) << row[2];
        else
            EXPECT_THROW(again.at(row[0])(json), RepositoryJSON::DecodingError) << row[2];
    }
}

// reminders.tsv: "<question>\t<input>\t<answer>" (support/DataTable.h), times in seconds before
// now ("-": never): the verification due (last sample, last full check, idle), whether to ask
// for the recovery key (created, confirmed, asked, declined) and for a review (the moment,
// successful backups, first use, last ask, times asked, declined).
TEST(Reminders, AnswersFromTheTable) {
    const auto field = [](const std::string& in, std::size_t i) { return test::split(in, ' ').at(i); };
    const auto ago = [&](const std::string& in, std::size_t i) {
        return field(in, i) == "-" ? std::nullopt : std::optional(kNow.adding(-std::stod(field(in, i))));
    };
    const auto yes = [&](const std::string& in, std::size_t i) { return field(in, i) == "yes"; };
    test::expectAnswers(
        "policy/reminders.tsv",
        {{"verification",
          [&](const std::string& in) {
              const char* const due[] = {"nothing", "sample", "full"};
              return due[static_cast<int>(VerificationSchedule{ago(in, 0), ago(in, 1)}.due(kNow, yes(in, 2)))];
          }},
         {"recoveryKey",
          [&](const std::string& in) {
              return test::yesNo(KeyReminder{ago(in, 1), ago(in, 2), yes(in, 3)}.shouldAsk(kNow, *ago(in, 0)));
          }},
         {"review", [&](const std::string& in) {
              const std::vector<std::string> moments = {"backupSucceeded", "verificationPassed", "restoreFinished",
                                                        "somethingWentWrong", "ordinary"};
              const auto moment = std::find(moments.begin(), moments.end(), field(in, 0)) - moments.begin();
              const ReviewPrompt prompt{std::stoll(field(in, 1)), ago(in, 2), ago(in, 3), std::stoll(field(in, 4)),
                                        yes(in, 5)};
              return test::yesNo(prompt.shouldAsk(static_cast<ReviewPrompt::Moment>(moment), kNow));
          }}});
}

TEST(VerificationSchedule, RecordedChecksMoveTheirOwnDate) {
    using Due = VerificationSchedule::Due;
    const double full = VerificationSchedule::fullEvery, sample = VerificationSchedule::sampleEvery;
    const auto afterFull = VerificationSchedule{}.recorded(Due::full, kNow);
    EXPECT_EQ(afterFull.due(kNow.adding(sample - 1), true), Due::nothing);
    EXPECT_EQ(afterFull.due(kNow.adding(sample), true), Due::sample);
    EXPECT_EQ(afterFull.due(kNow.adding(full), true), Due::full);
    EXPECT_EQ(afterFull.recorded(Due::nothing, kNow.adding(full)), afterFull);
    EXPECT_EQ(afterFull.recorded(Due::sample, kNow.adding(1)), (VerificationSchedule{kNow.adding(1), kNow}));
    EXPECT_EQ(VerificationSchedule::depth(Due::full, false), VerificationSchedule::Depth::sample);
    EXPECT_EQ(VerificationSchedule::depth(Due::full, true), VerificationSchedule::Depth::everything);
}

TEST(KeyReminder, ConfirmingAndDecliningMoveTheNextAsk) {
    const double every = KeyReminder::askEvery, day = 86400;
    const auto again = KeyReminder{}.confirmed(kNow.adding(-every));
    EXPECT_TRUE(again.shouldAsk(kNow, kNow.adding(-400 * day)));
    EXPECT_FALSE(again.declined().confirmed(kNow).shouldAsk(kNow.adding(every * 9), kNow.adding(-400 * day)));
}

TEST(ReviewPrompt, AskedAtMostTwiceAndTheCountStopsAtTheTop) {
    const double day = 86400;
    const ReviewPrompt ready{5, kNow.adding(-ReviewPrompt::settlingIn), std::nullopt, 0, false};
    const auto twice = ready.asked(kNow.adding(-900 * day)).asked(kNow.adding(-300 * day));
    EXPECT_FALSE(twice.shouldAsk(ReviewPrompt::Moment::backupSucceeded, kNow));
    EXPECT_FALSE(ready.declined().shouldAsk(ReviewPrompt::Moment::backupSucceeded, kNow));
    EXPECT_EQ(ReviewPrompt({0, {}, {}, INT64_MAX, false}).asked(kNow).timesAsked, INT64_MAX);
}

}  // namespace

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "CaseTable.h"
#include "policy/BackupSchedule.h"
#include "policy/Exclusions.h"
#include "policy/SourceSelection.h"

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

// schedule-standings.txt: a schedule (frequency, attempt and success in seconds before now,
// failure, file count; "-" for absent), then its standing, headline, verdicts and detail.
TEST(BackupSchedule, StandingAndItsWordingAtTheThresholds) {
    for (const auto& row : test::caseTable("schedule-standings.txt", 9)) {
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
    const BackupSchedule manual{BackupFrequency::manual, ago(1e7)};
    EXPECT_FALSE(manual.isDue(kNow));
    EXPECT_EQ(manual.nextDue(kNow), std::nullopt);

    const BackupSchedule never{BackupFrequency::daily};
    EXPECT_TRUE(never.isDue(kNow));
    EXPECT_EQ(never.nextDue(kNow), kNow);

    const BackupSchedule daily{BackupFrequency::daily, ago(86400), ago(86400)};
    EXPECT_TRUE(daily.isDue(kNow));  // due exactly now
    EXPECT_FALSE(daily.isDue(ago(1)));
    EXPECT_EQ(daily.nextDue(kNow.adding(1e6)), kNow);  // even when that lies in the past
}

TEST(BackupSchedule, AdoptOnlyMovesTheSuccessForward) {
    const BackupSchedule start{BackupFrequency::daily, ago(50), ago(100), "x"};
    for (std::optional<Date> newest : {std::optional<Date>{}, std::optional(ago(200)), std::optional(ago(100))}) {
        BackupSchedule s = start;
        s.adopt(newest);
        EXPECT_EQ(s, start);
    }
    BackupSchedule s = start;
    s.adopt(ago(10));
    EXPECT_EQ(s, (BackupSchedule{BackupFrequency::daily, ago(50), ago(10), "x"}));
    BackupSchedule fresh{BackupFrequency::daily};
    fresh.adopt(ago(1));
    EXPECT_EQ(fresh.lastSuccess, ago(1));
}

JSON withoutNulls(JSON value) {
    if (!value.is_object()) return value;
    JSON out = JSON::object();
    for (auto& [key, member] : value.items())
        if (!member.is_null()) out[key] = withoutNulls(member);
    return out;
}

// stored-forms.txt: "<record>\t<ok|damaged>\t<JSON>". An ok record reads back and writes
// the same JSON (null values left out); a damaged one is refused with a decoding error.
TEST(StoredForm, RecordsReadBackAndDamageIsRefused) {
    const std::map<std::string, std::function<JSON(const JSON&)>> again = {
        {"schedule", [](const JSON& j) { return BackupSchedule::fromJSON(j).toJSON(); }},
        {"exclusions", [](const JSON& j) { return Exclusions::fromJSON(j).toJSON(); }},
        {"sources", [](const JSON& j) { return SourceSelection::fromJSON(j).toJSON(); }},
    };
    for (const auto& row : test::caseTable("stored-forms.txt", 3)) {
        const JSON json = JSON::parse(row[2]);
        if (row[1] == "ok")
            EXPECT_EQ(again.at(row[0])(json), withoutNulls(json)) << row[2];
        else
            EXPECT_THROW(again.at(row[0])(json), RepositoryJSON::DecodingError) << row[2];
    }
}

}  // namespace

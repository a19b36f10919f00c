#include <gtest/gtest.h>

#include <vector>

#include "policy/BackupSchedule.h"

namespace {

using namespace wm;
using Standing = BackupSchedule::Standing;

const Date kNow = Date::fromSeconds(1796590835);  // 2026-12-06T21:00:35Z
Date ago(double seconds) { return kNow.adding(-seconds); }

TEST(BackupSchedule, StandingAtItsThresholds) {
    struct Case {
        BackupSchedule schedule;
        Standing expected;
    };
    const std::vector<Case> cases = {
        // A failed attempt wins whatever the frequency; equal times are not a failure.
        {BackupSchedule{BackupFrequency::manual, ago(10), ago(20), "Disk full"}, Standing::failing(ago(10), ago(20), "Disk full")},
        {BackupSchedule{BackupFrequency::manual, ago(10), ago(10)}, Standing::manual(ago(10))},
        {BackupSchedule{BackupFrequency::daily, ago(5)}, Standing::failing(ago(5), std::nullopt, std::nullopt)},
        {BackupSchedule{BackupFrequency::manual}, Standing::manual(std::nullopt)},
        {BackupSchedule{BackupFrequency::hourly}, Standing::neverRun()},
        // Overdue only once twice the interval has passed.
        {BackupSchedule{BackupFrequency::daily, std::nullopt, ago(172800)}, Standing::upToDate(ago(172800), kNow)},
        {BackupSchedule{BackupFrequency::daily, std::nullopt, ago(172801)}, Standing::overdue(ago(172801), 86401)},
        {BackupSchedule{BackupFrequency::hourly, std::nullopt, ago(7201)}, Standing::overdue(ago(7201), 3601)},
        {BackupSchedule{BackupFrequency::weekly, ago(1209600), ago(1209600)}, Standing::upToDate(ago(1209600), ago(604800))},
        {BackupSchedule{BackupFrequency::weekly, std::nullopt, ago(1209601)}, Standing::overdue(ago(1209601), 604801)},
        {BackupSchedule{BackupFrequency::daily, std::nullopt, kNow.adding(500)}, Standing::upToDate(kNow.adding(500), kNow)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.schedule.standing(kNow), c.expected) << c.schedule.toJSON().dump();
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
    fresh.adopt(Date::distantPast().adding(1));
    EXPECT_EQ(fresh.lastSuccess, Date::distantPast().adding(1));
}

TEST(BackupSchedule, HeadlinesAndVerdicts) {
    struct Case {
        Standing standing;
        const char* headline;
        bool good, attention;
    };
    const std::vector<Case> cases = {
        {Standing::manual(ago(1)), "Backed up", true, false},
        {Standing::manual(std::nullopt), "Ready to protect your files", false, false},
        {Standing::upToDate(ago(1), kNow), "You're protected", true, false},
        {Standing::failing(ago(1), std::nullopt, std::nullopt), "Backups are not working", false, true},
        {Standing::overdue(std::nullopt, 5), "Your backup is out of date", false, true},
        {Standing::neverRun(), "Ready to protect your files", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.standing.headline(), c.headline);
        EXPECT_EQ(c.standing.isGood(), c.good) << c.headline;
        EXPECT_EQ(c.standing.needsAttention(), c.attention) << c.headline;
    }
}

TEST(BackupSchedule, Details) {
    struct Case {
        Standing standing;
        std::optional<std::uint64_t> files;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {Standing::upToDate(ago(30), kNow), 1, "Last backup just now. 1 file."},
        {Standing::upToDate(ago(7200), kNow), 1234, "Last backup 2 hours ago. 1,234 files."},
        {Standing::manual(ago(3 * 86400)), std::nullopt, "Last backup 3 days ago."},
        {Standing::manual(std::nullopt), 5, "Nothing has been backed up here yet."},
        {Standing::neverRun(), 5, "Nothing has been backed up here yet."},
        {Standing::overdue(ago(100 * 86400), 1), 0, "Last backup 3 months ago. 0 files."},
        {Standing::overdue(std::nullopt, 1), 7, "No backup has ever succeeded."},
        {Standing::failing(ago(1), ago(5 * 3600), "The drive is full."), 9,
         "Last successful backup 5 hours ago. The drive is full."},
        {Standing::failing(ago(1), std::nullopt, std::nullopt), 9, "No backup has ever succeeded."},
        {Standing::failing(ago(1), std::nullopt, "Locked."), std::nullopt, "No backup has ever succeeded. Locked."},
    };
    for (const Case& c : cases) EXPECT_EQ(c.standing.detail(c.files, kNow), c.expected);
}

TEST(BackupSchedule, StoredForm) {
    EXPECT_EQ(BackupSchedule{BackupFrequency::weekly}.toJSON(), JSON::parse(R"({"frequency":"weekly"})"));
    const BackupSchedule full{BackupFrequency::hourly, ago(1.5), ago(2), "Disk gone"};
    EXPECT_EQ(BackupSchedule::fromJSON(full.toJSON()), full);
    EXPECT_EQ(BackupSchedule::fromJSON(JSON::parse(R"({"frequency":"daily","lastSuccess":null})")),
              BackupSchedule{BackupFrequency::daily});
    for (const char* damaged : {R"({})", R"([])", R"({"frequency":"Daily"})", R"({"frequency":3})",
                                R"({"frequency":"daily","lastAttempt":"yesterday"})",
                                R"({"frequency":"daily","lastFailure":1})"})
        EXPECT_THROW(BackupSchedule::fromJSON(JSON::parse(damaged)), RepositoryJSON::DecodingError) << damaged;
    for (BackupFrequency::Case c : BackupFrequency::allCases)
        EXPECT_EQ(BackupFrequency::fromRawValue(BackupFrequency(c).rawValue()), BackupFrequency(c));
}

}  // namespace

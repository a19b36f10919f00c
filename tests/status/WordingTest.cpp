// Notifications, received backups, update standing and verification wording.
#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "status/DataTable.h"
#include "status/Notifications.h"
#include "status/ReceivedBackup.h"
#include "status/UpdatePolicy.h"
#include "status/VerificationWording.h"

namespace wm {
namespace {

const Date now = Date::fromSeconds(1'796'000'000);

TEST(NotificationsTest, EveryEventFromTheTable) {
    using E = Notifications::Event;
    const auto rows = testing::dataTable("notifications.txt", 4);
    ASSERT_EQ(rows.size(), 13u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0] + " " + row[1]);
        const std::string& kind = row[0];
        const E event = kind == "backupFailed"              ? E::backupFailed(row[1])
                        : kind == "sourceLookedEmpty"       ? E::sourceLookedEmpty(row[1])
                        : kind == "verificationFoundDamage" ? E::verificationFoundDamage(std::stoll(row[1]))
                        : kind == "nothingBackedUpInDays"   ? E::nothingBackedUpInDays(std::stoll(row[1]))
                        : kind == "copyFellBehind"          ? E::copyFellBehind(row[1])
                        : kind == "driveUnreliable"         ? E::driveUnreliable()
                        : kind == "unusualChange"           ? E::unusualChange()
                                                            : E::backupSucceeded();
        const auto message = Notifications::message(event);
        if (row[2] == "-") {
            EXPECT_FALSE(message);
            continue;
        }
        ASSERT_TRUE(message);
        EXPECT_EQ(*message, (Notifications::Message{row[2], row[3], true}));
    }
}

TEST(NotificationsTest, QuietReminderIsAWeekAfterTheLastSuccess) {
    EXPECT_EQ(Notifications::quietReminderDue(std::nullopt, now), std::nullopt);
    EXPECT_EQ(Notifications::quietReminderDue(now.adding(-10 * 86'400.0), now), now.adding(-3 * 86'400.0));
}

TEST(ReceivedBackupTest, Sentences) {
    const struct {
        std::optional<double> secondsAgo;
        std::optional<std::int64_t> bytes;
        const char* expected;
    } cases[] = {
        {{}, 5'000, "Paired, and has not sent anything yet."},
        {30, {}, "Last sent just now."},
        {60, {}, "Last sent 1 minute ago."},
        {3 * 86'400.0, 0, "Last sent 3 days ago. nothing here."},
        {30, -1, "Last sent just now. nothing here."},
        {30, 1'200'000'000, "Last sent just now. 1.2 GB here."},
    };
    for (const auto& c : cases) {
        const auto received = c.secondsAgo ? std::optional(now.adding(-*c.secondsAgo)) : std::nullopt;
        EXPECT_EQ(ReceivedBackup::sentence(received, c.bytes, now), c.expected);
    }
}

TEST(UpdatePolicyTest, WhenToCheckAndInstall) {
    using UpdatePolicy::shouldCheck;
    EXPECT_TRUE(shouldCheck(std::nullopt, now, 1e12));
    EXPECT_TRUE(shouldCheck(now.adding(1), now, 86'400));
    EXPECT_TRUE(shouldCheck(now.adding(-86'400), now, 86'400));
    EXPECT_FALSE(shouldCheck(now.adding(-86'399), now, 86'400));
    EXPECT_TRUE(shouldCheck(now, now, 0));
    EXPECT_TRUE(shouldCheck(now.adding(-1), now, std::numeric_limits<double>::quiet_NaN()));
    using A = UpdatePolicy::Activity;
    for (A a : {A::idle, A::backingUp, A::restoring, A::verifying, A::pruning})
        EXPECT_EQ(UpdatePolicy::mayInstall(a), a == A::idle);
}

TEST(UpdatePolicyTest, StandingSentencesFromTheTable) {
    using S = UpdatePolicy::Standing;
    const auto rows = testing::dataTable("updates.txt", 5);
    ASSERT_EQ(rows.size(), 15u);
    using A = UpdatePolicy::Activity;
    const std::map<std::string, A> activities{{"", A::idle},           {"idle", A::idle},
                                              {"backingUp", A::backingUp}, {"restoring", A::restoring},
                                              {"verifying", A::verifying}, {"pruning", A::pruning}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row[4]);
        const std::string& kind = row[0];
        const auto date = row[2].empty() ? std::nullopt : std::optional(now.adding(-std::stod(row[2])));
        const auto activity = activities.at(row[3]);
        const S standing = kind == "upToDate"           ? S::upToDate(*date)
                           : kind == "available"        ? S::available(row[1])
                           : kind == "installing"       ? S::installing(row[1])
                           : kind == "readyToInstall"   ? S::readyToInstall(row[1])
                           : kind == "waitingUntilIdle" ? S::waitingUntilIdle(row[1], activity)
                           : kind == "couldNotCheck"    ? S::couldNotCheck(row[1], date)
                           : kind == "neverChecked"     ? S::neverChecked()
                                                        : S::handledByTheAppStore();
        EXPECT_EQ(standing.sentence(now), row[4]);
        EXPECT_EQ(standing.isKnownCurrent(), kind == "upToDate");
    }
}

TEST(VerificationWordingTest, IntactSentenceAndVerifiedRule) {
    EXPECT_EQ(VerificationWording::everythingIntact(1, 0), "Everything in this backup is intact. 1 piece checked, nothing read.");
    EXPECT_EQ(VerificationWording::everythingIntact(0, 0), "Everything in this backup is intact. 0 pieces checked, nothing read.");
    EXPECT_EQ(VerificationWording::everythingIntact(1200, 2'000'000),
              "Everything in this backup is intact. 1,200 pieces checked, 2 MB read.");
    using VerificationWording::countsAsVerified;
    EXPECT_FALSE(countsAsVerified(true, 0, 0));
    EXPECT_TRUE(countsAsVerified(true, 5, 5));
    EXPECT_FALSE(countsAsVerified(true, 4, 5));
    EXPECT_FALSE(countsAsVerified(false, 5, 5));
}

}  // namespace
}  // namespace wm

// Notifications, received backups, updates, verification wording, the diagnostic report and the protection score.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "status/DiagnosticReport.h"
#include "status/Notifications.h"
#include "status/ProtectionScore.h"
#include "status/ReceivedBackup.h"
#include "status/UpdatePolicy.h"
#include "status/VerificationWording.h"
#include "support/DataTable.h"

namespace wm {
namespace {

const Date now = Date::fromSeconds(1'796'000'000);

TEST(NotificationsTest, EveryEventFromTheTable) {
    using E = Notifications::Event;
    const auto rows = test::dataTable("status/notifications.tsv", 4);
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
        EXPECT_EQ(Notifications::message(event),
                  row[2] == "-" ? std::nullopt : std::optional(Notifications::Message{row[2], row[3], true}));
    }
}

TEST(NotificationsTest, QuietReminderIsAWeekAfterTheLastSuccess) {
    EXPECT_EQ(Notifications::quietReminderDue(std::nullopt, now), std::nullopt);
    EXPECT_EQ(Notifications::quietReminderDue(now.adding(-10 * 86'400.0), now), now.adding(-3 * 86'400.0));
}

// wording.tsv: "<question>\t<input>\t<answer>" (support/DataTable.h): a received backup's
// sentence (seconds since it arrived, bytes held; "-" for none), whether an update check is
// due (seconds since the last, the interval), the verification sentence and rule, and texts
// with their paths taken out.
TEST(WordingTest, AnswersFromTheTable) {
    const auto field = [](const std::string& in, std::size_t i) { return test::split(in, ' ').at(i); };
    const auto ago = [&](const std::string& in) {
        return field(in, 0) == "-" ? std::nullopt : std::optional(now.adding(-std::stod(field(in, 0))));
    };
    test::expectAnswers(
        "status/wording.tsv",
        {{"received",
          [&](const std::string& in) {
              const auto bytes = field(in, 1) == "-" ? std::nullopt : std::optional(std::stoll(field(in, 1)));
              return ReceivedBackup::sentence(ago(in), bytes, now);
          }},
         {"shouldCheck",
          [&](const std::string& in) {
              return test::yesNo(UpdatePolicy::shouldCheck(ago(in), now, std::stod(field(in, 1))));
          }},
         {"intact",
          [&](const std::string& in) {
              return VerificationWording::everythingIntact(std::stoll(field(in, 0)), std::stoll(field(in, 1)));
          }},
         {"verified",
          [&](const std::string& in) {
              return test::yesNo(VerificationWording::countsAsVerified(field(in, 0) == "yes", std::stoll(field(in, 1)),
                                                                       std::stoll(field(in, 2))));
          }},
         {"withoutPaths", [](const std::string& text) { return DiagnosticReport::withoutPaths(text); }}});
    using A = UpdatePolicy::Activity;
    for (A a : {A::idle, A::backingUp, A::restoring, A::verifying, A::pruning})
        EXPECT_EQ(UpdatePolicy::mayInstall(a), a == A::idle);
}

TEST(UpdatePolicyTest, StandingSentencesFromTheTable) {
    using S = UpdatePolicy::Standing;
    const auto rows = test::dataTable("status/updates.tsv", 5);
    ASSERT_EQ(rows.size(), 15u);
    const std::vector<std::string> activities = {"idle", "backingUp", "restoring", "verifying", "pruning"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row[4]);
        const std::string& kind = row[0];
        const auto date = row[2].empty() ? std::nullopt : std::optional(now.adding(-std::stod(row[2])));
        const auto activity = std::find(activities.begin(), activities.end(), row[3]) - activities.begin();
        const S standing = kind == "upToDate"           ? S::upToDate(*date)
                           : kind == "available"        ? S::available(row[1])
                           : kind == "installing"       ? S::installing(row[1])
                           : kind == "readyToInstall"   ? S::readyToInstall(row[1])
                           : kind == "waitingUntilIdle" ? S::waitingUntilIdle(row[1], UpdatePolicy::Activity(activity))
                           : kind == "couldNotCheck"    ? S::couldNotCheck(row[1], date)
                           : kind == "neverChecked"     ? S::neverChecked()
                                                        : S::handledByTheAppStore();
        EXPECT_EQ(standing.sentence(now), row[4]);
        EXPECT_EQ(standing.isKnownCurrent(), kind == "upToDate");
    }
}

TEST(DiagnosticReportTest, LinesInOrder) {
    int scrubbed = 0;
    const auto scrub = [&](const std::string& s) {
        ++scrubbed;
        EXPECT_EQ(s, "could not write [a path] because the disk is full");
        return s;
    };
    const auto full = DiagnosticReport::build(
        "2.4 (310)", "15.1", 2, 1234, 98765, {"drive", "cloud folder"}, "Every day", now.adding(-5 * 3600.0),
        std::string("could not write /Users/alice/Backups/pack-0001 because the disk is full"), 0,
        now.adding(-100 * 86'400.0), now, scrub);
    std::stringstream expected;
    expected << std::ifstream(test::dataFile("status/diagnostic-report.txt")).rdbuf();
    std::string text = expected.str();
    if (text.ends_with('\n')) text.pop_back();
    EXPECT_EQ(full.text(), text);
    EXPECT_EQ(scrubbed, 1);

    const auto bare = DiagnosticReport::build("1", "2", 1, 0, 0, {}, "Only when I ask", {}, {}, 0, {}, now, scrub);
    EXPECT_EQ(scrubbed, 1);
    ASSERT_EQ(bare.lines.size(), 10u);
    EXPECT_EQ(bare.lines[5].value + " " + bare.lines[7].value + " " + bare.lines[9].value, "none never never");
    EXPECT_EQ(DiagnosticReport::build("1", "2", 1, 0, 0, {}, "", {}, std::string("x"), 0, {}, now,
                                      [](const std::string&) { return std::string("(withheld)"); })
                  .lines[8],
              (DiagnosticReport::Line{"Last failure", "(withheld)"}));
    EXPECT_EQ(DiagnosticReport::build("1", "2", 1, 0, 0, {}, "", {}, std::string("at /a/b"), 0, {}, now, {}).lines[8],
              (DiagnosticReport::Line{"Last failure", "at [a path]"}));
}

// What each case scores, the steps it leaves, its sentence, its next step and whether damage or a
// risk caps it are in the table.
TEST(ProtectionScoreTest, PointsStepsSentenceAndNextStep) {
    const auto step = [](const ProtectionScore::Step& s) { return s.what + " " + std::to_string(s.points); };
    for (const auto& row : test::dataTable("status/protection-score.tsv", 7)) {
        const auto in = test::split(row[1], ' ');
        const auto ago = [&](std::size_t i) {
            return in.at(i) == "-" ? std::nullopt : std::optional(now.adding(-std::stod(in[i])));
        };
        const ProtectionScore score({std::stoll(in[0]), std::stoll(in[1]), ago(2), ago(3), in.at(4) == "yes",
                                     in.at(5) == "yes", in.at(6) == "yes"},
                                    now);
        std::string steps;
        for (const auto& s : score.steps()) steps += (steps.empty() ? "" : "; ") + step(s);
        const auto next = score.nextStep();
        const auto capped = test::yesNo(score.isCappedByDamage()) + " " + test::yesNo(score.isCappedByRisk());
        EXPECT_EQ((std::vector<std::string>{row[0], row[1], std::to_string(score.points()), steps, score.sentence(),
                                            next ? step(*next) : "", capped}),
                  row);
    }
}

}  // namespace
}  // namespace wm

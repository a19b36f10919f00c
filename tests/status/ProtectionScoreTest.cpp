#include "status/ProtectionScore.h"

#include <gtest/gtest.h>

#include <map>

#include "status/DataTable.h"

namespace wm {
namespace {

const Date now = Date::fromSeconds(1'796'000'000);
Date ago(double seconds) { return now.adding(-seconds); }

// What each case scores, the steps it leaves, its sentence and its next step are in the table.
TEST(ProtectionScoreTest, PointsStepsSentenceAndNextStep) {
    const std::map<std::string, ProtectionScore::Inputs> inputs = {
        {"everything", {2, 1, ago(86'400), ago(3'600)}},
        {"nothing", {0, 0}},
        {"one copy", {1, 0}},
        {"off site without a confirmed copy", {0, 1, {}, ago(60)}},
        {"two copies, none off site", {2, 0, ago(60), ago(60)}},
        {"two copies never verified", {2, 0, {}, ago(60)}},
        {"two copies only", {2, 0}},
        {"negative copies", {-3, 0}},
        {"future dates earn", {0, 0, now.adding(60), now.adding(60)}},
        {"verified exactly 90 days ago", {0, 0, ago(7'776'000)}},
        {"verified a second sooner", {0, 0, ago(7'775'999)}},
        {"backed up exactly 7 days ago", {0, 0, {}, ago(604'800)}},
        {"backed up a second sooner", {0, 0, {}, ago(604'799)}},
        {"full score with damage", {2, 1, ago(60), ago(60), true}},
        {"damage with a low score", {1, 0, {}, {}, true, true, true}},
        {"faults and anomaly", {2, 1, ago(60), ago(60), false, true, true}},
        {"faults", {2, 0, {}, {}, false, true}},
        {"anomaly", {0, 0, {}, {}, false, false, true}},
    };
    const auto step = [](const ProtectionScore::Step& s) { return s.what + " " + std::to_string(s.points); };
    const auto rows = testing::dataTable("protection-score.txt", 5);
    ASSERT_EQ(rows.size(), inputs.size());
    for (const auto& row : rows) {
        const ProtectionScore score(inputs.at(row[0]), now);
        std::string steps;
        for (const auto& s : score.steps()) steps += (steps.empty() ? "" : "; ") + step(s);
        const auto next = score.nextStep();
        EXPECT_EQ((std::vector<std::string>{row[0], std::to_string(score.points()), steps, score.sentence(),
                                            next ? step(*next) : ""}),
                  row);
        EXPECT_EQ(score.outOf(), 100);
    }
}

TEST(ProtectionScoreTest, CapFlags) {
    const ProtectionScore all({2, 1, {}, {}, true, true, true}, now);
    EXPECT_TRUE(all.isCappedByDamage() && !all.isCappedByRisk());
    const ProtectionScore risk({2, 1, {}, {}, false, false, true}, now);
    EXPECT_TRUE(risk.isCappedByRisk() && risk.isCapped() && !risk.isCappedByDamage());
    EXPECT_EQ(ProtectionScore({}, now).nextStep(), (ProtectionScore::Step{"Make a backup", 30}));
}

}  // namespace
}  // namespace wm

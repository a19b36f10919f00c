#include "status/ProtectionScore.h"

#include <gtest/gtest.h>

namespace wm {
namespace {

const Date now = Date::fromSeconds(1'796'000'000);
Date ago(double seconds) { return now.adding(-seconds); }

struct Case {
    const char* name;
    ProtectionScore::Inputs inputs;
    std::int64_t points;
    std::vector<std::int64_t> stepPoints;
    const char* sentence;
    std::optional<std::int64_t> nextStepPoints;
};

TEST(ProtectionScoreTest, PointsStepsSentenceAndNextStep) {
    const Case cases[] = {
        {"everything", {2, 1, ago(86'400), ago(3'600)}, 100, {}, "About as well protected as this can make you.", {}},
        {"nothing", {0, 0}, 0, {30, 25, 20, 15, 10}, "Not protected yet.", 30},
        {"one copy", {1, 0}, 30, {25, 20, 15, 10}, "One copy, which is better than none and not much better.", 25},
        {"off site without a confirmed copy", {0, 1, {}, ago(60)}, 30, {30, 25, 15},
         "One copy, which is better than none and not much better.", 30},
        {"two copies, none off site", {2, 0, ago(60), ago(60)}, 80, {20},
         "Reasonably protected. The largest thing left is below.", 20},
        {"two copies never verified", {2, 0, {}, ago(60)}, 65, {20, 15},
         "Reasonably protected. The largest thing left is below.", 20},
        {"two copies only", {2, 0}, 55, {20, 15, 10}, "Not protected enough yet. The largest thing left is below.", 20},
        {"negative copies", {-3, 0}, 0, {30, 25, 20, 15, 10}, "Not protected yet.", 30},
        {"future dates earn", {0, 0, now.adding(60), now.adding(60)}, 25, {30, 25, 20}, "Not protected yet.", 30},
        // The age limits are strict.
        {"verified exactly 90 days ago", {0, 0, ago(7'776'000)}, 0, {30, 25, 20, 15, 10}, "Not protected yet.", 30},
        {"verified a second sooner", {0, 0, ago(7'775'999)}, 15, {30, 25, 20, 10}, "Not protected yet.", 30},
        {"backed up exactly 7 days ago", {0, 0, {}, ago(604'800)}, 0, {30, 25, 20, 15, 10}, "Not protected yet.", 30},
        {"backed up a second sooner", {0, 0, {}, ago(604'799)}, 10, {30, 25, 20, 15}, "Not protected yet.", 30},
        // Caps lower to 50, never raise, and leave the steps alone.
        {"full score with damage", {2, 1, ago(60), ago(60), true}, 50, {},
         "Part of this backup is damaged. Nothing else counts for much until that is dealt with.", {}},
        {"damage with a low score", {1, 0, {}, {}, true, true, true}, 30, {25, 20, 15, 10},
         "Part of this backup is damaged. Nothing else counts for much until that is dealt with.", {}},
        {"faults and anomaly", {2, 1, ago(60), ago(60), false, true, true}, 50, {},
         "A drive is reporting faults and an unusual change has not been confirmed. Both are described above, and "
         "neither is fixed by another copy, so nothing else counts for much until they are.",
         {}},
        {"faults", {2, 0, {}, {}, false, true}, 50, {20, 15, 10},
         "A drive holding one of your copies is reporting faults, described above. That copy is not one to count on "
         "until it is fixed, and nothing else counts for much until it is.",
         {}},
        {"anomaly", {0, 0, {}, {}, false, false, true}, 0, {30, 25, 20, 15, 10},
         "An unusual number of files changed and nobody has said that was expected, described above. That is worth "
         "more than another copy right now.",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProtectionScore score(c.inputs, now);
        EXPECT_EQ(score.outOf(), 100);
        EXPECT_EQ(score.points(), c.points);
        std::vector<std::int64_t> stepPoints;
        for (const auto& step : score.steps()) stepPoints.push_back(step.points);
        EXPECT_EQ(stepPoints, c.stepPoints);
        EXPECT_EQ(score.sentence(), c.sentence);
        EXPECT_EQ(score.nextStep() ? std::optional(score.nextStep()->points) : std::nullopt, c.nextStepPoints);
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

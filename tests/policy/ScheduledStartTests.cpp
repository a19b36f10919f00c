// When a scheduled backup may start: the backup window's hours and the power conditions.
#include <gtest/gtest.h>

#include "policy/BackupWindow.h"
#include "policy/PowerConditions.h"

namespace {

using namespace wm;

const Date kMidnight = Date::fromSeconds(1796601600);  // 2026-12-07T00:00:00Z
const Calendar kUTC("UTC");

TEST(BackupWindow, AllowsInsideItsHoursOnly) {
    const std::tuple<BackupWindow, int, bool> cases[] = {  // window, minute of the day, allowed
        {{9, 17, true}, 9 * 60, true},        {{9, 17, true}, 17 * 60 - 1, true}, {{9, 17, true}, 17 * 60, false},
        {{9, 17, true}, 9 * 60 - 1, false},   {{22, 6, true}, 23 * 60 + 30, true}, {{22, 6, true}, 6 * 60 - 1, true},
        {{22, 6, true}, 6 * 60, false},       {{22, 6, true}, 22 * 60 - 1, false}, {{22, 6, true}, 0, true},
        {{9, 17, false}, 3 * 60, true},       {{5, 5, true}, 3 * 60, true},        {{0, 12, true}, 13 * 60, false},
    };
    for (const auto& [window, minute, allowed] : cases) {
        const Date when = kMidnight.adding(minute * 60.0);
        EXPECT_EQ(window.allows(when, kUTC), allowed) << window.startHour << "-" << window.endHour << " " << minute;
        EXPECT_EQ(window.sentence(when, kUTC).has_value(), !allowed) << minute;
    }
    // The hour is the caller's calendar's: midnight UTC is 9 in the morning in Tokyo.
    EXPECT_TRUE((BackupWindow{9, 10, true}).allows(kMidnight, Calendar("Asia/Tokyo")));
    // The stored form needs all three keys.
    const BackupWindow window{22, 6, true};
    EXPECT_EQ(BackupWindow::fromJSON(window.toJSON()), window);
    for (const char* key : {"startHour", "endHour", "enabled"}) {
        JSON json = window.toJSON();
        json.erase(key);
        EXPECT_THROW(BackupWindow::fromJSON(json), RepositoryJSON::DecodingError) << key;
    }
}

TEST(PowerConditions, WaitsOnLowPowerModeAndLowBattery) {
    const std::pair<PowerConditions::State, bool> cases[] = {  // state, go
        {{false, std::nullopt, true, false}, false},  // Low Power Mode on mains power too
        {{true, std::nullopt, false, false}, true},   // no known charge never holds back
        {{true, 0.3, false, false}, true},  {{true, 0.29, false, false}, false},
        {{true, 0.29, false, true}, false}, {{false, 0.1, false, false}, true},
    };
    for (const auto& [state, go] : cases) {
        const auto verdict = PowerConditions::shouldStartScheduled(state);
        EXPECT_EQ(verdict.shouldRun(), go);
        EXPECT_EQ(verdict.sentence().has_value(), !go);
    }
}

}  // namespace

// Further copies of a backup: drive rotation, copies falling behind and the order in which
// copy locations are served.
#include <gtest/gtest.h>

#include <cmath>

#include "policy/CopyFallingBehind.h"
#include "policy/DriveRotation.h"
#include "policy/ReplicationOrder.h"

namespace {

using namespace wm;

const Date kNow = Date::fromSeconds(1796590835);
Date daysAgo(double days) { return kNow.adding(-days * 86400); }

TEST(DriveRotation, DueIsTheLongestAwayFromFortyFiveDays) {
    const double edge = DriveRotation::staleAfter, day = 86400;
    const std::pair<std::vector<double>, std::optional<std::size_t>> cases[] = {
        {{}, std::nullopt}, {{edge}, 0}, {{edge - 1}, std::nullopt}, {{-edge * 2}, std::nullopt},
        {{50 * day, 60 * day, 40 * day}, 1}, {{60 * day, 60 * day}, 0},  // a tie: the earlier in the list
    };
    for (const auto& [secondsAway, due] : cases) {
        DriveRotation rotation;
        for (double away : secondsAway) rotation.saw("D", std::to_string(rotation.drives.size()), 1, kNow.adding(-away));
        EXPECT_EQ(rotation.dueForSwap(kNow), due ? std::optional(rotation.drives[*due]) : std::nullopt);
    }
}

TEST(DriveRotation, SawRefreshesInPlaceOrAppendsAndIsStored) {
    DriveRotation rotation;
    rotation.saw("Blue", "A", 3, daysAgo(9));
    rotation.saw("Red", "B", 4, daysAgo(8));
    rotation.saw("Navy", "A", 5, daysAgo(1));
    EXPECT_EQ(rotation, (DriveRotation{{{"Navy", "A", daysAgo(1), 5}, {"Red", "B", daysAgo(8), 4}}}));
    EXPECT_EQ(DriveRotation::fromJSON(rotation.toJSON()), rotation);
    EXPECT_EQ(DriveRotation{}.toJSON(), JSON::parse(R"({"drives": []})"));
    JSON missingCount = rotation.toJSON();
    missingCount["drives"][1].erase("snapshotsWhenLastSeen");
    for (const JSON& bad : {JSON::object(), JSON::parse(R"({"drives": {}})"), missingCount})
        EXPECT_THROW(DriveRotation::fromJSON(bad), RepositoryJSON::DecodingError) << bad;
}

TEST(CopyFallingBehind, BehindFromTenDaysInInputOrder) {
    using CopyFallingBehind::Copy;
    const std::vector<Copy> copies = {{"never", std::nullopt}, {"young", kNow.adding(-863999)},
                                      {"edge", kNow.adding(-864000)}, {"old", daysAgo(40)}, {"ahead", daysAgo(-20)}};
    EXPECT_EQ(CopyFallingBehind::fallenBehind(copies, kNow, 10), (std::vector<Copy>{copies[2], copies[3]}));
    EXPECT_EQ(CopyFallingBehind::fallenBehind(copies, kNow, 0).size(), 3u);
    EXPECT_EQ(CopyFallingBehind::sentence({copies[0], copies[1]}, kNow), std::nullopt);
}

TEST(ReplicationOrder, ConfirmedFirstThenFastestThenInputOrder) {
    const std::vector<ReplicationOrder::Location> input = {
        {"slow-unconfirmed", 5e7, true}, {"nan-a", NAN, false}, {"slow", 1e3, false}, {"unmeasured", std::nullopt, false},
        {"fast", 1e8, false}, {"nan-b", NAN, false}, {"same-as-slow", 1e3, false}, {"unmeasured-unconfirmed", std::nullopt, true},
    };
    std::vector<std::string> names;
    for (const auto& l : ReplicationOrder::order(input)) names.push_back(l.name);
    EXPECT_EQ(names, (std::vector<std::string>{"unmeasured", "fast", "slow", "same-as-slow", "nan-a", "nan-b",
                                               "unmeasured-unconfirmed", "slow-unconfirmed"}));
}

}  // namespace

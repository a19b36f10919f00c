// The planning policies: when a scheduled backup may start, further copies, network
// destinations, comparisons and repairs, a bucket's object lock, and every sentence they
// word (tests/data/policy/sentences.tsv).
#include <gtest/gtest.h>

#include <cmath>

#include "CaseTable.h"
#include "core/Bytes.h"
#include "policy/BackupProgressReport.h"
#include "policy/BackupWindow.h"
#include "policy/CopyCount.h"
#include "policy/CopyFallingBehind.h"
#include "policy/DriveRotation.h"
#include "policy/FirstBackupEstimate.h"
#include "policy/KeyReminder.h"
#include "policy/LaunchAtLoginState.h"
#include "policy/NetworkConditions.h"
#include "policy/NetworkShare.h"
#include "policy/ObjectLock.h"
#include "policy/PowerConditions.h"
#include "policy/ReplicationOrder.h"
#include "policy/SelfHealing.h"
#include "policy/SnapshotComparison.h"

namespace {

using namespace wm;

const Date kNow = Date::fromSeconds(1796601600);  // 2026-12-07T00:00:00Z
const Calendar kUTC("UTC");
Date ago(double days) { return kNow.adding(-days * 86400); }

TEST(BackupWindow, AllowsInsideItsHoursOnly) {
    const std::tuple<BackupWindow, int, bool> cases[] = {
        // window, minute of the day, allowed
        {{9, 17, true}, 9 * 60, true},      {{9, 17, true}, 17 * 60 - 1, true},  {{9, 17, true}, 17 * 60, false},
        {{9, 17, true}, 9 * 60 - 1, false}, {{22, 6, true}, 23 * 60 + 30, true}, {{22, 6, true}, 6 * 60 - 1, true},
        {{22, 6, true}, 6 * 60, false},     {{22, 6, true}, 22 * 60 - 1, false}, {{9, 17, false}, 3 * 60, true},
        {{5, 5, true}, 3 * 60, true},
    };
    for (const auto& [window, minute, allowed] : cases) {
        const Date when = kNow.adding(minute * 60.0);
        EXPECT_EQ(window.allows(when, kUTC), allowed) << window.startHour << "-" << window.endHour << " " << minute;
        EXPECT_EQ(window.sentence(when, kUTC).has_value(), !allowed) << minute;
    }
    // The hour is the caller's calendar's: midnight UTC is 9 in the morning in Tokyo.
    EXPECT_TRUE((BackupWindow{9, 10, true}).allows(kNow, Calendar("Asia/Tokyo")));
    const BackupWindow window{22, 6, true};
    for (const char* key : {"startHour", "endHour", "enabled"}) {
        JSON json = window.toJSON();
        json.erase(key);
        EXPECT_THROW(BackupWindow::fromJSON(json), RepositoryJSON::DecodingError) << key;
    }
}

TEST(PowerConditions, WaitsOnLowPowerModeAndLowBattery) {
    const std::pair<PowerConditions::State, bool> cases[] = {
        // state, go
        {{false, std::nullopt, true, false}, false},  // Low Power Mode on mains power too
        {{true, std::nullopt, false, false}, true},   // no known charge never holds back
        {{true, 0.3, false, false}, true},           {{true, 0.29, false, false}, false},
        {{true, 0.29, false, true}, false},          {{false, 0.1, false, false}, true},
    };
    for (const auto& [state, go] : cases) {
        const auto verdict = PowerConditions::shouldStartScheduled(state);
        EXPECT_EQ(verdict.shouldRun(), go);
        EXPECT_EQ(verdict.sentence().has_value(), !go);
    }
}

TEST(DriveRotation, DueIsTheLongestAwayFromFortyFiveDays) {
    const double edge = DriveRotation::staleAfter, day = 86400;
    const std::pair<std::vector<double>, std::optional<std::size_t>> cases[] = {
        {{}, std::nullopt},
        {{edge}, 0},
        {{edge - 1}, std::nullopt},
        {{-edge * 2}, std::nullopt},
        {{50 * day, 60 * day, 40 * day}, 1},
        {{60 * day, 60 * day}, 0},  // a tie: the earlier in the list
    };
    for (const auto& [secondsAway, due] : cases) {
        DriveRotation rotation;
        for (double away : secondsAway)
            rotation.saw("D", std::to_string(rotation.drives.size()), 1, kNow.adding(-away));
        EXPECT_EQ(rotation.dueForSwap(kNow), due ? std::optional(rotation.drives[*due]) : std::nullopt);
    }
}

TEST(DriveRotation, SawRefreshesInPlaceOrAppendsAndIsStored) {
    DriveRotation rotation;
    rotation.saw("Blue", "A", 3, ago(9));
    rotation.saw("Red", "B", 4, ago(8));
    rotation.saw("Navy", "A", 5, ago(1));
    EXPECT_EQ(rotation, (DriveRotation{{{"Navy", "A", ago(1), 5}, {"Red", "B", ago(8), 4}}}));
    EXPECT_EQ(DriveRotation{}.toJSON(), JSON::parse(R"({"drives": []})"));
    JSON missingCount = rotation.toJSON();
    missingCount["drives"][1].erase("snapshotsWhenLastSeen");
    for (const JSON& bad : {JSON::object(), JSON::parse(R"({"drives": {}})"), missingCount})
        EXPECT_THROW(DriveRotation::fromJSON(bad), RepositoryJSON::DecodingError) << bad;
}

TEST(CopyFallingBehind, BehindFromTenDaysInInputOrder) {
    using CopyFallingBehind::Copy;
    const std::vector<Copy> copies = {{"never", std::nullopt},
                                      {"young", kNow.adding(-863999)},
                                      {"edge", kNow.adding(-864000)},
                                      {"old", ago(40)},
                                      {"ahead", ago(-20)}};
    EXPECT_EQ(CopyFallingBehind::fallenBehind(copies, kNow, 10), (std::vector<Copy>{copies[2], copies[3]}));
    EXPECT_EQ(CopyFallingBehind::fallenBehind(copies, kNow, 0).size(), 3u);
    EXPECT_EQ(CopyFallingBehind::sentence({copies[0], copies[1]}, kNow), std::nullopt);
}

TEST(ReplicationOrder, ConfirmedFirstThenFastestThenInputOrder) {
    const std::vector<ReplicationOrder::Location> input = {
        {"slow-unconfirmed", 5e7, true},
        {"nan-a", NAN, false},
        {"slow", 1e3, false},
        {"unmeasured", std::nullopt, false},
        {"fast", 1e8, false},
        {"nan-b", NAN, false},
        {"same-as-slow", 1e3, false},
        {"unmeasured-unconfirmed", std::nullopt, true},
    };
    std::vector<std::string> names;
    for (const auto& l : ReplicationOrder::order(input)) names.push_back(l.name);
    EXPECT_EQ(names, (std::vector<std::string>{"unmeasured", "fast", "slow", "same-as-slow", "nan-a", "nan-b",
                                               "unmeasured-unconfirmed", "slow-unconfirmed"}));
}

TEST(NetworkShare, KindFromMountDevice) {
    using NetworkShare::Kind;
    const std::pair<const char*, std::optional<Kind>> cases[] = {
        {"//server/Backups", Kind::smb},   {"SMB://server/x", Kind::smb},
        {"AFP://server/Share", Kind::afp}, {"server:/export/backups", Kind::nfs},
        {"/dev/disk4s2", std::nullopt},    {"/dev/x:/y", std::nullopt},
        {"/DEV/x:/y", std::nullopt},       {"", std::nullopt},
    };
    for (const auto& [device, kind] : cases) EXPECT_EQ(NetworkShare::kind(device), kind) << device;
}

TEST(FirstBackupEstimate, RoundedRangesAboveTwoMinutes) {
    const std::pair<double, const char*> cases[] = {
        {600, "10 minutes"},
        {2000, "35 minutes"},
        {5340, "90 minutes"},
        {5400, "2 hours"},
        {86400, "1 day"},
        {129600, "2 days"},
        {0, "5 minutes"},
        {-7, "5 minutes"},
        {NAN, "5 minutes"},
        {INFINITY, "5 minutes"},
        {1e300, "9,223,372,036,854,775,807 days"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(FirstBackupEstimate::describe(seconds), text) << seconds;
    using FirstBackupEstimate::Destination;
    for (std::int64_t bytes : {0LL, -5LL, 14'400'000'000LL})
        EXPECT_EQ(FirstBackupEstimate::sentence(bytes, Destination::localDrive), std::nullopt) << bytes;
    EXPECT_NE(FirstBackupEstimate::sentence(14'400'000'001, Destination::localDrive), std::nullopt);
}

TEST(SnapshotComparison, RemovedThenModifiedThenAddedInFileBrowserOrder) {
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    const auto list = SnapshotComparison::changes(
        {{"b.txt", "1"}, {"docs/a.txt", "1"}, {"same", "x"}, {composed, composed}, {"nfc/" + composed, "1"}},
        {{"a.txt", "2"},
         {"docs/a.txt", "2"},
         {"same", "x"},
         {composed, decomposed},
         {"nfc/" + decomposed, "1"},
         {"file10", "3"},
         {"a//file2/", "3"},
         {"File3", "3"},
         {"/", "3"}},
        {{"b.txt", 7}, {"docs/a.txt", 9}, {"a//file2/", 4}});
    std::vector<std::string> ids;
    for (const auto& change : list) ids.push_back(change.id());
    EXPECT_EQ(ids, (std::vector<std::string>{"b.txtremoved", "docs/a.txtmodified", "added", "a.txtadded",
                                             "a/file2added", "File3added", "file10added"}));
    EXPECT_EQ(list[4], (SnapshotComparison::Change{{"a", "file2"}, SnapshotComparison::Change::Kind::added, 4}));
    EXPECT_TRUE(SnapshotComparison::changes({{"a", "1"}}, {{"a", "1"}}, {}).empty());

    // Bytes that are not UTF-8 (Latin-1 e acute and e grave) are names and contents of their own.
    ids.clear();
    for (const auto& change :
         SnapshotComparison::changes({{"f\xE9", "1"}, {"g", "v\xE9"}}, {{"f\xE8", "1"}, {"g", "v\xE8"}}, {}))
        ids.push_back(change.id());
    EXPECT_EQ(ids, (std::vector<std::string>{"f\xE9"
                                             "removed",
                                             "gmodified",
                                             "f\xE8"
                                             "added"}));
}

TEST(SelfHealing, SplitsDamageIntoRepairableAndLost) {
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    EXPECT_EQ(SelfHealing::plan({"b", "a", "B", decomposed, "x"}, {"a", "b", "B", "c", composed}, "Office"),
              (SelfHealing::Plan{{"B", "a", "b", decomposed}, {"x"}, "Office"}));
    EXPECT_EQ(SelfHealing::plan({}, {"a"}, "Office"), (SelfHealing::Plan{{}, {}, "Office"}));
    EXPECT_EQ(SelfHealing::plan({"p\xE9", "p\xE8"}, {"p\xE9"}, "Office"),
              (SelfHealing::Plan{{"p\xE9"}, {"p\xE8"}, "Office"}));
}

// "\n", "\t" and "\xHH" written out in object-lock.tsv stand for those bytes.
std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
        if (c == 'x')
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c ? c : s[i];
    }
    return out;
}

// A bucket's object-lock document is remote, possibly hostile, text.
TEST(ObjectLock, ReadsModeAndRetention) {
    const char* names[] = {"compliance", "governance", "enabled", "off"};
    test::forEachLine("object-lock.tsv", [&](const std::string& document, const std::string& expected) {
        const ObjectLock lock = ObjectLock::parse(viewOf(unescaped(document)));
        EXPECT_EQ(names[static_cast<int>(lock.kind)] + (lock.days() ? " " + std::to_string(*lock.days()) : ""),
                  expected)
            << document;
    });
}

TEST(PolicySentences, EveryTextWordForWord) {
    using FirstBackupEstimate::Destination;
    std::map<std::string, std::optional<std::string>> actual = {
        {"window.9-17.at20", BackupWindow{9, 17, true}.sentence(kNow.adding(20 * 3600), kUTC)},
        {"window.0-12.at13", BackupWindow{0, 12, true}.sentence(kNow.adding(13 * 3600), kUTC)},
        {"window.22-6.at21", BackupWindow{22, 6, true}.sentence(kNow.adding(21 * 3600), kUTC)},
        {"power.lowPowerMode", PowerConditions::shouldStartScheduled({false, 0.9, true, false}).sentence()},
        {"power.lowBattery", PowerConditions::shouldStartScheduled({true, 0.29, false, false}).sentence()},
        {"drive.blue45", DriveRotation::sentence({"Blue", "U", ago(45), 3}, kNow)},
        {"copies.one", CopyFallingBehind::sentence({{"Offsite", ago(12.75)}, {"Near", ago(1)}}, kNow)},
        {"copies.two", CopyFallingBehind::sentence({{"A", ago(11)}, {"B", ago(30)}, {"C", ago(0)}}, kNow)},
        {"copycount.-1", CopyCount::sentence(-1)},
        {"copycount.0", CopyCount::sentence(0)},
        {"copycount.1", CopyCount::sentence(1)},
        {"copycount.2", CopyCount::sentence(2)},
        {"copycount.1234", CopyCount::sentence(1234)},
        {"lock.compliance", ObjectLock::compliance(730).sentence()},
        {"lock.governance", ObjectLock::governance(30).sentence()},
        {"lock.enabledWithoutDefault", ObjectLock::enabledWithoutDefault().sentence()},
        {"lock.off", ObjectLock::off().sentence()},
        {"share.advice.nfs", NetworkShare::advice(NetworkShare::Kind::nfs)},
        {"share.advice.unknown", NetworkShare::advice(NetworkShare::Kind::unknown)},
        {"share.slowness", NetworkShare::slowness()},
        {"network.expensive", NetworkConditions::shouldSendRemoteCopies({true, true}).text},
        {"network.constrained", NetworkConditions::shouldSendRemoteCopies({false, true}).text},
        {"estimate.local.125s", FirstBackupEstimate::sentence(15'000'000'000, Destination::localDrive)},
        {"estimate.local.1000s", FirstBackupEstimate::sentence(120'000'000'000, Destination::localDrive)},
        {"estimate.share.1000s", FirstBackupEstimate::sentence(120'000'000'000, Destination::networkShare)},
        {"estimate.cloud.125000s", FirstBackupEstimate::sentence(1'000'000'000'000, Destination::cloudFolder)},
    };
    EXPECT_EQ(NetworkConditions::shouldSendRemoteCopies({false, false}), NetworkConditions::Verdict::go());
    const auto progress = [](std::uint64_t files, std::uint64_t read, std::uint64_t stored) {
        return BackupProgressReport{files, read, stored, std::nullopt, kNow};
    };
    for (double seconds : {2.99, 3.0, 3600.9, -5.0}) {
        const auto key = "progress." + std::to_string(seconds).substr(0, std::to_string(seconds).find('.') + 3);
        actual[key + ".one"] = progress(1, 0, 0).sentence(kNow.adding(seconds));
        actual[key + ".read"] = progress(1200, 10, 0).sentence(kNow.adding(seconds));
        actual[key + ".stored"] = progress(2, 10, 1'500'000).sentence(kNow.adding(seconds));
        actual[key + ".rate"] = progress(2, 10, 0).rate(kNow.adding(seconds));
    }
    actual["progress.rate.2s"] = progress(2, 5'000'000, 0).rate(kNow.adding(2));
    actual["progress.rate.top"] = progress(2, UINT64_MAX, 0).rate(kNow.adding(1));
    for (std::int64_t raw : {0, 1, 2, 3, 4, -1, 7}) {
        actual["login." + std::to_string(raw)] = LaunchAtLoginState::fromServiceStatus(raw).scheduleClaim(true);
        actual["login." + std::to_string(raw) + ".unscheduled"] =
            LaunchAtLoginState::fromServiceStatus(raw).scheduleClaim(false);
    }
    actual["key.question"] = KeyReminder::question();
    actual["key.cannotFindIt"] = KeyReminder::cannotFindIt();
    const std::set<std::string> thousand = [] {
        std::set<std::string> s;
        for (int i = 0; i < 1000; ++i) s.insert(std::to_string(i));
        return s;
    }();
    actual["repair.nothing"] = SelfHealing::sentence(SelfHealing::plan({}, {"a"}, "Office"));
    actual["repair.two"] = SelfHealing::sentence(SelfHealing::plan({"b", "a"}, {"a", "b", "c"}, "Office"));
    actual["repair.lostOne"] = SelfHealing::sentence(SelfHealing::plan({"x"}, {}, "Office"));
    actual["repair.both"] = SelfHealing::sentence(SelfHealing::plan({"a", "x", "y"}, {"a"}, "Office"));
    actual["repair.thousand"] = SelfHealing::sentence(SelfHealing::plan(thousand, thousand, "Office"));
    actual["compare.nothing"] = SnapshotComparison::summary({});
    actual["compare.oneAdded"] = SnapshotComparison::summary(SnapshotComparison::changes({}, {{"a", "1"}}, {}));
    actual["compare.each"] = SnapshotComparison::summary(
        SnapshotComparison::changes({{"gone", "1"}, {"kept", "1"}}, {{"kept", "2"}, {"new", "1"}}, {}));
    actual["compare.two"] =
        SnapshotComparison::summary(SnapshotComparison::changes({{"gone", "1"}, {"old", "1"}}, {{"new", "1"}}, {}));
    test::expectTexts("sentences.tsv", actual);
}

}  // namespace

// Every sentence of the planning policies, word for word, against tests/data/policy/sentences.tsv.
#include <gtest/gtest.h>

#include "ExpectedTexts.h"
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
#include "policy/SelfHealing.h"
#include "policy/SnapshotComparison.h"

namespace {

using namespace wm;

const Date kNow = Date::fromSeconds(1796601600);  // 2026-12-07T00:00:00Z
Date ago(double days) { return kNow.adding(-days * 86400); }

TEST(PolicySentences, EveryTextWordForWord) {
    const Calendar utc("UTC");
    using FirstBackupEstimate::Destination;
    std::map<std::string, std::optional<std::string>> actual = {
        {"window.9-17.at20", BackupWindow{9, 17, true}.sentence(kNow.adding(20 * 3600), utc)},
        {"window.0-12.at13", BackupWindow{0, 12, true}.sentence(kNow.adding(13 * 3600), utc)},
        {"window.22-6.at21", BackupWindow{22, 6, true}.sentence(kNow.adding(21 * 3600), utc)},
        {"power.lowPowerMode", PowerConditions::shouldStartScheduled({false, 0.9, true, false}).sentence()},
        {"power.lowBattery", PowerConditions::shouldStartScheduled({true, 0.29, false, false}).sentence()},
        {"drive.blue45", DriveRotation::sentence({"Blue", "U", ago(45), 3}, kNow)},
        {"copies.one", CopyFallingBehind::sentence({{"Offsite", ago(12.25)}, {"Near", ago(1)}}, kNow)},
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
        actual["login." + std::to_string(raw) + ".unscheduled"] = LaunchAtLoginState::fromServiceStatus(raw).scheduleClaim(false);
    }
    actual["key.question"] = KeyReminder::question();
    actual["key.cannotFindIt"] = KeyReminder::cannotFindIt();
    const std::set<std::string> thousand = [] { std::set<std::string> s; for (int i = 0; i < 1000; ++i) s.insert(std::to_string(i)); return s; }();
    actual["repair.nothing"] = SelfHealing::sentence(SelfHealing::plan({}, {"a"}, "Office"));
    actual["repair.two"] = SelfHealing::sentence(SelfHealing::plan({"b", "a"}, {"a", "b", "c"}, "Office"));
    actual["repair.lostOne"] = SelfHealing::sentence(SelfHealing::plan({"x"}, {}, "Office"));
    actual["repair.both"] = SelfHealing::sentence(SelfHealing::plan({"a", "x", "y"}, {"a"}, "Office"));
    actual["repair.thousand"] = SelfHealing::sentence(SelfHealing::plan(thousand, thousand, "Office"));
    actual["compare.nothing"] = SnapshotComparison::summary({});
    actual["compare.oneAdded"] = SnapshotComparison::summary(SnapshotComparison::changes({}, {{"a", "1"}}, {}));
    actual["compare.each"] = SnapshotComparison::summary(
        SnapshotComparison::changes({{"gone", "1"}, {"kept", "1"}}, {{"kept", "2"}, {"new", "1"}}, {}));
    actual["compare.two"] = SnapshotComparison::summary(
        SnapshotComparison::changes({{"gone", "1"}, {"old", "1"}}, {{"new", "1"}}, {}));
    test::expectTexts("sentences.tsv", actual);
}

}  // namespace

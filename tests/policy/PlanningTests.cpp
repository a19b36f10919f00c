// The planning policies: when a scheduled backup may start, further copies, network
// destinations, comparisons and repairs, a bucket's object lock, and every sentence they
// word (tests/data/policy/planning.tsv and sentences.tsv).
#include <gtest/gtest.h>

#include <cmath>

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
#include "support/DataTable.h"

namespace {

using namespace wm;

const Date kNow = Date::fromSeconds(1796601600);  // 2026-12-07T00:00:00Z
const Calendar kUTC("UTC");
Date ago(double days) { return kNow.adding(-days * 86400); }

// planning.tsv: "<question>\t<input>\t<answer>" (support/DataTable.h) for the policies that answer a
// few numbers: the backup window (start and end hour, on, minute of the day), power (on
// battery, charge or "-", Low Power Mode, someone at the keyboard), the network (expensive,
// constrained), the copy count, first-backup durations and estimates, progress lines and
// rates (files, bytes read, bytes stored, seconds since the start), launch at login, the
// drive due for a swap (seconds since each was seen) and the share kind of a mount device.
TEST(Planning, AnswersFromTheTable) {
    using FirstBackupEstimate::Destination;
    const auto field = [](const std::string& input, std::size_t i) { return test::split(input, ' ').at(i); };
    const auto yes = [&](const std::string& input, std::size_t i) { return field(input, i) == "yes"; };
    const auto progress = [&](const std::string& in) {
        return BackupProgressReport{std::stoull(field(in, 0)), std::stoull(field(in, 1)), std::stoull(field(in, 2)),
                                    std::nullopt, kNow};
    };
    const auto at = [&](const std::string& in, std::size_t i) { return kNow.adding(std::stod(field(in, i))); };
    test::expectAnswers(
        "policy/planning.tsv",
        {{"window",
          [&](const std::string& in) {
              const BackupWindow window{std::stoll(field(in, 0)), std::stoll(field(in, 1)), yes(in, 2)};
              const Date when = kNow.adding(std::stod(field(in, 3)) * 60);
              EXPECT_EQ(window.allows(when, kUTC), !window.sentence(when, kUTC)) << in;
              return test::orNone(window.sentence(when, kUTC));
          }},
         {"power",
          [&](const std::string& in) {
              const auto charge = field(in, 1) == "-" ? std::nullopt : std::optional(std::stod(field(in, 1)));
              return test::orNone(
                  PowerConditions::shouldStartScheduled({yes(in, 0), charge, yes(in, 2), yes(in, 3)}).sentence());
          }},
         {"network",
          [&](const std::string& in) {
              const auto verdict = NetworkConditions::shouldSendRemoteCopies({yes(in, 0), yes(in, 1)});
              return verdict.shouldSend() ? "go" + verdict.text : verdict.text;
          }},
         {"copyCount", [](const std::string& in) { return CopyCount::sentence(std::stoll(in)); }},
         {"duration", [](const std::string& in) { return FirstBackupEstimate::describe(std::stod(in)); }},
         {"estimate",
          [&](const std::string& in) {
              const std::map<std::string, Destination> to = {{"local", Destination::localDrive},
                                                             {"share", Destination::networkShare},
                                                             {"cloud", Destination::cloudFolder}};
              return test::orNone(FirstBackupEstimate::sentence(std::stoll(field(in, 1)), to.at(field(in, 0))));
          }},
         {"progress", [&](const std::string& in) { return progress(in).sentence(at(in, 3)); }},
         {"rate", [&](const std::string& in) { return test::orNone(progress(in).rate(at(in, 3))); }},
         {"login",
          [&](const std::string& in) {
              return LaunchAtLoginState::fromServiceStatus(std::stoll(field(in, 0))).scheduleClaim(yes(in, 1));
          }},
         {"swap",
          [&](const std::string& in) {
              DriveRotation rotation;
              for (const auto& away : in.empty() ? std::vector<std::string>{} : test::split(in, ' '))
                  rotation.saw("D", std::to_string(rotation.drives.size()), 1, kNow.adding(-std::stod(away)));
              const auto due = rotation.dueForSwap(kNow);
              return due ? due->volumeUUID : "(none)";
          }},
         {"shareKind", [](const std::string& device) {
              const auto kind = NetworkShare::kind(device);
              return kind ? NetworkShare::name(*kind) : "(none)";
          }}});
}

// The hour is the caller's calendar's: midnight UTC is 9 in the morning in Tokyo.
TEST(BackupWindow, HoursOfTheCallersCalendar) {
    EXPECT_TRUE((BackupWindow{9, 10, true}).allows(kNow, Calendar("Asia/Tokyo")));
}

TEST(DriveRotation, SawRefreshesInPlaceOrAppends) {
    DriveRotation rotation;
    rotation.saw("Blue", "A", 3, ago(9));
    rotation.saw("Red", "B", 4, ago(8));
    rotation.saw("Navy", "A", 5, ago(1));
    EXPECT_EQ(rotation, (DriveRotation{{{"Navy", "A", ago(1), 5}, {"Red", "B", ago(8), 4}}}));
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

TEST(SnapshotComparison, RemovedThenModifiedThenAddedInFileBrowserOrder) {
    const auto ids = [](const std::vector<SnapshotComparison::Change>& changes) {
        std::string out;
        for (const auto& change : changes) out += change.id() + " ";
        return out;
    };
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    const std::map<std::string, std::string> from = {
        {"b.txt", "1"}, {"docs/a.txt", "1"}, {"same", "x"}, {composed, composed}, {"nfc/" + composed, "1"}};
    std::map<std::string, std::string> to = {
        {"a.txt", "2"}, {"docs/a.txt", "2"}, {"same", "x"}, {composed, decomposed}};
    to.insert({{"nfc/" + decomposed, "1"}, {"file10", "3"}, {"a//file2/", "3"}, {"File3", "3"}, {"/", "3"}});
    const auto list = SnapshotComparison::changes(from, to, {{"b.txt", 7}, {"docs/a.txt", 9}, {"a//file2/", 4}});
    EXPECT_EQ(ids(list), "b.txtremoved docs/a.txtmodified added a.txtadded a/file2added File3added file10added ");
    EXPECT_EQ(list[4], (SnapshotComparison::Change{{"a", "file2"}, SnapshotComparison::Change::Kind::added, 4}));
    EXPECT_TRUE(SnapshotComparison::changes({{"a", "1"}}, {{"a", "1"}}, {}).empty());
    // Bytes that are not UTF-8 (Latin-1 e acute and e grave) are names and contents of their own.
    EXPECT_EQ(ids(SnapshotComparison::changes({{"f\xE9", "1"}, {"g", "v\xE9"}}, {{"f\xE8", "1"}, {"g", "v\xE8"}}, {})),
              "f\xE9removed gmodified " + std::string("f\xE8") + "added ");
}

TEST(SelfHealing, SplitsDamageIntoRepairableAndLost) {
    const std::string composed = "caf\xc3\xa9", decomposed = "cafe\xcc\x81";
    EXPECT_EQ(SelfHealing::plan({"b", "a", "B", decomposed, "x"}, {"a", "b", "B", "c", composed}, "Office"),
              (SelfHealing::Plan{{"B", "a", "b", decomposed}, {"x"}, "Office"}));
    EXPECT_EQ(SelfHealing::plan({}, {"a"}, "Office"), (SelfHealing::Plan{{}, {}, "Office"}));
    EXPECT_EQ(SelfHealing::plan({"p\xE9", "p\xE8"}, {"p\xE9"}, "Office"),
              (SelfHealing::Plan{{"p\xE9"}, {"p\xE8"}, "Office"}));
}

// A bucket's object-lock document is remote, possibly hostile, text.
TEST(ObjectLock, ReadsModeAndRetention) {
    const char* names[] = {"compliance", "governance", "enabled", "off"};
    for (const auto& row : test::dataTable("policy/object-lock.tsv", 2)) {
        const ObjectLock lock = ObjectLock::parse(viewOf(test::unescaped(row[0])));
        EXPECT_EQ(names[static_cast<int>(lock.kind)] + (lock.days() ? " " + std::to_string(*lock.days()) : ""), row[1])
            << row[0];
    }
}

TEST(PolicySentences, EveryTextWordForWord) {
    std::map<std::string, std::optional<std::string>> actual = {
        {"drive.blue45", DriveRotation::sentence({"Blue", "U", ago(45), 3}, kNow)},
        {"copies.one", CopyFallingBehind::sentence({{"Offsite", ago(12.75)}, {"Near", ago(1)}}, kNow)},
        {"copies.two", CopyFallingBehind::sentence({{"A", ago(11)}, {"B", ago(30)}, {"C", ago(0)}}, kNow)},
        {"lock.compliance", ObjectLock::compliance(730).sentence()},
        {"lock.governance", ObjectLock::governance(30).sentence()},
        {"lock.enabledWithoutDefault", ObjectLock::enabledWithoutDefault().sentence()},
        {"lock.off", ObjectLock::off().sentence()},
        {"share.advice.nfs", NetworkShare::advice(NetworkShare::Kind::nfs)},
        {"share.advice.unknown", NetworkShare::advice(NetworkShare::Kind::unknown)},
        {"share.slowness", NetworkShare::slowness()},
    };
    actual["key.question"] = KeyReminder::question();
    actual["key.cannotFindIt"] = KeyReminder::cannotFindIt();
    std::set<std::string> thousand;
    for (int i = 0; i < 1000; ++i) thousand.insert(std::to_string(i));
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
    test::expectTexts("policy/sentences.tsv", actual);
}

}  // namespace

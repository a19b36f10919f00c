// The screen standing, the widget-state record and its file, the widget's words, the menu bar and the watch.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "core/RepositoryJSON.h"
#include "status/MenuBarSummary.h"
#include "status/WatchSnapshotStore.h"
#include "status/WidgetState.h"
#include "status/WidgetSummary.h"
#include "support/DataTable.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

using ScreenStanding::Tone;
using Standing = BackupSchedule::Standing;
const Date now = Date::fromSeconds(1'796'000'000);

TEST(WidgetStateTest, KnownRecordBytesAndRoundTrips) {
    const auto written = RepositoryJSON::parseWholeSecondDate("2026-12-05T14:30:00Z").value();
    const WidgetState state = WidgetState::fromStanding({"You're protected", Tone::good, "checkmark.circle.fill"},
                                                        written.adding(-9000), 3, written);
    EXPECT_EQ(stringOf(WidgetState::encode(state)),
              R"({"confirmedCopies":3,"headline":"You're protected","lastSuccess":"2026-12-05T12:00:00Z",)"
              R"("symbol":"checkmark.circle.fill","tone":"good","writtenAt":"2026-12-05T14:30:00Z"})");
    EXPECT_EQ(WidgetState::decode(WidgetState::encode(state)), state);

    // The never-written sentinel survives; an absent last success leaves its key out.
    const WidgetState& nothing = WidgetState::nothingKnownYet();
    EXPECT_EQ(stringOf(WidgetState::encode(nothing)),
              R"({"confirmedCopies":0,"headline":"Open Wendle Marsh",)"
              R"("symbol":"circle.dashed","tone":"neutral","writtenAt":"0001-01-01T00:00:00Z"})");
    EXPECT_EQ(WidgetState::decode(WidgetState::encode(nothing)), nothing);

    // Fractions of a second are dropped, so such a record does not come back equal.
    WidgetState fractional = state;
    fractional.writtenAt = written.adding(0.75);
    EXPECT_EQ(WidgetState::decode(WidgetState::encode(fractional)).writtenAt, written);

    // The earliest moment there is reads back before year 1, not wrapped round to a far future.
    fractional.writtenAt = Date::fromMicroseconds(std::numeric_limits<std::int64_t>::min());
    EXPECT_LT(WidgetState::decode(WidgetState::encode(fractional)).writtenAt, Date::distantPast());

    // A null last success reads as absent; unknown keys are ignored; 2.0 is the count 2.
    const WidgetState lenient = WidgetState::decode(bytesOf(
        R"({"confirmedCopies":2.0,"extra":[1],"headline":"H","lastSuccess":null,"symbol":"s","tone":"attention",)"
        R"("writtenAt":"2026-12-05T14:30:00+01:00"})"));
    EXPECT_EQ(lenient.lastSuccess, std::nullopt);
    EXPECT_EQ(lenient.confirmedCopies, 2);
    EXPECT_EQ(lenient.writtenAt, written.adding(-3600));
    EXPECT_TRUE(lenient.needsAttention());
}

TEST(WidgetStateTest, RefusesDamagedFiles) {
    const auto rows = test::dataTable("status/widget-state-refusals.tsv", 1);
    ASSERT_EQ(rows.size(), 22u);
    for (const auto& row : rows)
        EXPECT_THROW(WidgetState::decode(bytesOf(row[0])), RepositoryJSON::DecodingError) << row[0];
}

TEST(WidgetStateTest, FileInTheAppGroupDataFolder) {
    test::TempFolder home;
    const test::ScopedEnvironment dataHome("XDG_DATA_HOME", home.string());
    const WidgetState state{"H", Tone::neutral, "circle.dashed", std::nullopt, 1, now};
    EXPECT_EQ(WidgetState::filePath(), home / "org.wendlemarsh.shared" / "widget-state.json");
    EXPECT_EQ(WidgetState::read(), std::nullopt);
    WidgetState::write(state);
    EXPECT_EQ(WidgetState::read(), state);
    std::filesystem::resize_file(WidgetState::filePath(), 10);
    EXPECT_EQ(WidgetState::read(), std::nullopt);
    // A record padded past the size limit, and a named pipe nobody writes to, read as nothing.
    const Bytes encoded = WidgetState::encode(state);
    home.writeFile("org.wendlemarsh.shared/widget-state.json",
                   std::string(WidgetState::readLimit, ' ') + std::string(encoded.begin(), encoded.end()));
    EXPECT_EQ(WidgetState::read(), std::nullopt);
    std::filesystem::remove(WidgetState::filePath());
    ASSERT_EQ(::mkfifo(WidgetState::filePath().c_str(), 0600), 0);
    EXPECT_EQ(WidgetState::read(), std::nullopt);
}

// summaries.tsv: "<question>\t<input>\t<answer>" (support/DataTable.h): the screen's headline
// (drive returning bad data, backup refused, anomaly, schedule standing), the staleness note
// (seconds since the record was written), the widget's detail under an attention headline
// (seconds since the last success or "-", confirmed copies, size), the menu bar (tone,
// working, seconds since the last success or "-") and the watch (tone, seconds since the
// state was received; its sentence for a good state by that age).
TEST(WidgetSummaryTest, AnswersFromTheTable) {
    const auto field = [](const std::string& in, std::size_t i) { return test::split(in, ' ').at(i); };
    const auto ago = [&](const std::string& in, std::size_t i) {
        return field(in, i) == "-" ? std::nullopt : std::optional(now.adding(-std::stod(field(in, i))));
    };
    const auto yes = [&](const std::string& in, std::size_t i) { return field(in, i) == "yes"; };
    const auto headline = [&](const std::string& in) {
        const Tone tone = ScreenStanding::toneFromRawValue(field(in, 0)).value();
        const char* texts[] = {"You're protected", "Ready to protect your files", "Check what changed"};
        return ScreenStanding::Headline{texts[static_cast<int>(tone)], tone, "s"};
    };
    test::expectAnswers(
        "status/summaries.tsv",
        {{"screen",
          [&](const std::string& in) {
              const std::map<std::string, Standing> standings = {{"upToDate", Standing::upToDate(now, std::nullopt)},
                                                                 {"overdue", Standing::overdue(now.adding(-9e5), 3600)},
                                                                 {"neverRun", Standing::neverRun()}};
              const auto shown =
                  ScreenStanding::headline({yes(in, 0), yes(in, 1), yes(in, 2), standings.at(field(in, 3))});
              return shown.text + "|" + std::string(ScreenStanding::rawValue(shown.tone)) + "|" + shown.symbol;
          }},
         {"staleness",
          [&](const std::string& in) {
              return test::orNone(WidgetState{"H", Tone::good, "s", std::nullopt, 0, *ago(in, 0)}.stalenessNote(now));
          }},
         {"detail",
          [&](const std::string& in) {
              const auto size = field(in, 2) == "small" ? WidgetSummary::Size::small : WidgetSummary::Size::medium;
              const auto content = WidgetSummary::content({"Check what changed", Tone::attention, "x"}, ago(in, 0),
                                                          std::stoll(field(in, 1)), size, now);
              EXPECT_EQ(content, (WidgetSummary::Content{"Check what changed", content.detail, true, now}));
              return test::orNone(content.detail);
          }},
         {"menuBar",
          [&](const std::string& in) {
              const auto summary = MenuBarSummary::summary(headline(in), field(in, 1) == "yes", ago(in, 2), now);
              return MenuBarSummary::symbol(summary.icon) + " " + summary.line;
          }},
         {"watch",
          [&](const std::string& in) {
              const auto state = WatchSummary::state(headline(in), *ago(in, 1), now);
              return WatchSummary::symbol(state) + " " + WatchSummary::short_(state);
          }},
         {"watchSentence", [&](const std::string& in) {
              const WidgetState written{"You're protected", Tone::good, "s", std::nullopt, 2, now.adding(-60)};
              return WatchSummary::snapshot(written, *ago(in, 0), now).sentence(now);
          }}});
    const WidgetState& nothing = WidgetState::nothingKnownYet();
    EXPECT_FALSE(nothing.wasEverWritten() || nothing.needsAttention() || nothing.stalenessNote(now));
    EXPECT_EQ(MenuBarSummary::nothingOpen(),
              (MenuBarSummary::Summary{MenuBarSummary::Icon::idle, "No backup is open"}));
}

TEST(WatchSummaryTest, NothingHeardYet) {
    using WatchSummary::State;
    const std::string noWord = "No word from your iPhone yet. Open Wendle Marsh there to pair them.";
    EXPECT_EQ(WatchSummary::Snapshot::nothingHeardYet().sentence(now), noWord);
    EXPECT_EQ((WatchSummary::Snapshot{WidgetState::nothingKnownYet(), now, State::protected_}.sentence(now)), noWord);
}

TEST(WatchSnapshotStoreTest, RecordsBothValuesTogetherAndReadsDamageAsNothing) {
    test::TempFolder home;
    const test::ScopedEnvironment configHome("XDG_CONFIG_HOME", home.string());
    const auto& nothing = WatchSummary::Snapshot::nothingHeardYet();
    EXPECT_EQ(WatchSnapshotStore::current(now), nothing);

    const WidgetState state{"Check what changed", Tone::attention, "s", now.adding(-3600), 1, now.adding(-60)};
    WatchSnapshotStore::record(state, now.adding(-0.5));
    EXPECT_EQ(WatchSnapshotStore::current(now),
              (WatchSummary::Snapshot{state, now.adding(-0.5), WatchSummary::State::needsAttention}));
    EXPECT_EQ(WatchSnapshotStore::current(now.adding(21'600)).summary, WatchSummary::State::unknown);

    const auto file = WatchSnapshotStore::settingsFile();
    EXPECT_EQ(file, home / "org.wendlemarsh.shared" / "settings.json");
    for (const char* damaged : {"{", R"({"watch.receivedAt":1})", R"({"watch.lastState":"{}","watch.receivedAt":1})",
                                R"({"watch.lastState":7,"watch.receivedAt":1})"}) {
        home.writeFile(file.lexically_relative(home.path()), std::string_view(damaged));
        EXPECT_EQ(WatchSnapshotStore::current(now), nothing) << damaged;
    }

    // The settings hold other keys: a file it can read keeps them, one it cannot read (too
    // large, nested too deep, a number out of range) is left as it is.
    const auto relative = file.lexically_relative(home.path());
    home.writeFile(relative, std::string_view(R"({"other":[1,{"x":null}]})"));
    WatchSnapshotStore::record(state, now);
    EXPECT_EQ(RepositoryJSON::decode(home.readFile(relative))["other"], JSON::parse(R"([1,{"x":null}])"));
    EXPECT_EQ(WatchSnapshotStore::current(now).state, state);
    const std::string large = R"({"other":")" + std::string(1 << 20, 'a') + R"("})";
    for (const std::string& unreadable :
         {large, std::string(600, '[') + std::string(600, ']'), std::string(R"({"other":1e400})")}) {
        home.writeFile(relative, std::string_view(unreadable));
        WatchSnapshotStore::record(state, now);
        EXPECT_TRUE(stringOf(home.readFile(relative)) == unreadable) << unreadable.substr(0, 20);  // unchanged
    }

    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(WatchSnapshotStore::current(now), nothing);  // never waits for a writer
    WatchSnapshotStore::record(state, now);
    EXPECT_TRUE(std::filesystem::is_fifo(file));
}

}  // namespace
}  // namespace wm

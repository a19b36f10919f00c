// The menu-bar summary, the watch's summary and the store it keeps.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "status/MenuBarSummary.h"
#include "status/WatchSnapshotStore.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

using ScreenStanding::Tone;
const Date now = Date::fromSeconds(1'796'000'000);

TEST(MenuBarSummaryTest, IconAndLine) {
    using MenuBarSummary::Icon;
    const ScreenStanding::Headline good{"You're protected", Tone::good, "s"};
    const ScreenStanding::Headline neutral{"Ready to protect your files", Tone::neutral, "s"};
    const ScreenStanding::Headline attention{"Check what changed", Tone::attention, "s"};
    const struct {
        ScreenStanding::Headline standing;
        bool working;
        std::optional<double> secondsAgo;
        MenuBarSummary::Summary expected;
    } cases[] = {
        {attention, true, 5, {Icon::working, "Backing up..."}},
        {good, false, {}, {Icon::protected_, "Protected"}},
        {good, false, 59, {Icon::protected_, "Backed up just now"}},
        {good, false, 60, {Icon::protected_, "Backed up 1 minute ago"}},
        {good, false, 7200, {Icon::protected_, "Backed up 2 hours ago"}},
        {neutral, false, 7200, {Icon::idle, "Ready to protect your files"}},
        {attention, false, 7200, {Icon::needsAttention, "Check what changed"}},
    };
    for (const auto& c : cases) {
        const auto last = c.secondsAgo ? std::optional(now.adding(-*c.secondsAgo)) : std::nullopt;
        EXPECT_EQ(MenuBarSummary::summary(c.standing, c.working, last, now), c.expected) << c.expected.line;
    }
    EXPECT_EQ(MenuBarSummary::nothingOpen(), (MenuBarSummary::Summary{Icon::idle, "No backup is open"}));
    std::string symbols;
    for (Icon icon : {Icon::protected_, Icon::working, Icon::needsAttention, Icon::idle})
        symbols += MenuBarSummary::symbol(icon) + " ";
    EXPECT_EQ(symbols, "checkmark.shield.fill arrow.triangle.2.circlepath exclamationmark.shield.fill shield ");
}

TEST(WatchSummaryTest, SixHoursOfTrustAndTheSentence) {
    using WatchSummary::State;
    const struct {
        double age;
        Tone tone;
        State expected;
    } cases[] = {
        {21'599, Tone::attention, State::needsAttention}, {21'599, Tone::good, State::protected_},
        {21'599, Tone::neutral, State::protected_},      {21'600, Tone::good, State::unknown},
        {0, Tone::attention, State::needsAttention},     {-1, Tone::good, State::unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WatchSummary::state({"H", c.tone, "s"}, now.adding(-c.age), now), c.expected) << c.age;

    const WidgetState written{"You're protected", Tone::good, "s", std::nullopt, 2, now.adding(-60)};
    const std::string noWord = "No word from your iPhone yet. Open Wendle Marsh there to pair them.";
    EXPECT_EQ(WatchSummary::Snapshot::nothingHeardYet().sentence(now), noWord);
    EXPECT_EQ((WatchSummary::Snapshot{WidgetState::nothingKnownYet(), now, State::protected_}.sentence(now)), noWord);
    EXPECT_EQ(WatchSummary::snapshot(written, now.adding(-60), now).sentence(now), "You're protected");
    const std::string outOfTouch = "Out of touch with your iPhone, last heard from %. This is not the backup's "
                                   "state, it is how long since the last word about it.";
    auto expectOutOfTouch = [&](Date received, const std::string& when) {
        std::string expected = outOfTouch;
        expected.replace(expected.find('%'), 1, when);
        EXPECT_EQ(WatchSummary::snapshot(written, received, now).sentence(now), expected);
    };
    expectOutOfTouch(now.adding(1), "just now");
    expectOutOfTouch(now.adding(-8 * 3600.0), "8 hours ago");
    EXPECT_EQ(WatchSummary::short_(State::unknown), "?");
}

TEST(WatchSnapshotStoreTest, RecordsBothValuesTogetherAndReadsDamageAsNothing) {
    test::TempFolder home;
    ::setenv("XDG_CONFIG_HOME", home.string().c_str(), 1);
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
    std::filesystem::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(WatchSnapshotStore::current(now), nothing);  // never waits for a writer
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace wm

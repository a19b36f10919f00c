// The screen standing, the widget-state record and its file, and the widget's words.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

#include "core/RepositoryJSON.h"
#include "status/DataTable.h"
#include "status/WidgetState.h"
#include "status/WidgetSummary.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

using ScreenStanding::Tone;
using Standing = BackupSchedule::Standing;
const Date now = Date::fromSeconds(1'796'000'000);

TEST(ScreenStandingTest, FirstRuleThatApplies) {
    const Standing upToDate = Standing::upToDate(now, std::nullopt);
    const Standing overdue = Standing::overdue(now.adding(-9e5), 3600);
    const struct {
        ScreenStanding::Conditions conditions;
        ScreenStanding::Headline expected;
    } cases[] = {
        {{true, true, true, overdue}, {"This drive is not reliable", Tone::attention, "externaldrive.badge.xmark"}},
        {{false, true, false, upToDate}, {"Backups are not working", Tone::attention, "exclamationmark.triangle.fill"}},
        {{false, false, true, overdue}, {overdue.headline(), Tone::attention, "exclamationmark.triangle.fill"}},
        {{false, false, true, upToDate}, {"Check what changed", Tone::attention, "exclamationmark.triangle.fill"}},
        {{false, false, false, upToDate}, {upToDate.headline(), Tone::good, "checkmark.circle.fill"}},
        {{false, false, false, Standing::neverRun()}, {Standing::neverRun().headline(), Tone::neutral, "circle.dashed"}},
    };
    for (const auto& c : cases) EXPECT_EQ(ScreenStanding::headline(c.conditions), c.expected) << c.expected.text;

    for (Tone tone : {Tone::good, Tone::neutral, Tone::attention})
        EXPECT_EQ(ScreenStanding::toneFromRawValue(ScreenStanding::rawValue(tone)), tone);
    EXPECT_EQ(ScreenStanding::toneFromRawValue("warning"), std::nullopt);
}

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
    EXPECT_EQ(stringOf(WidgetState::encode(nothing)), R"({"confirmedCopies":0,"headline":"Open Wendle Marsh",)"
                                                      R"("symbol":"circle.dashed","tone":"neutral","writtenAt":"0001-01-01T00:00:00Z"})");
    EXPECT_EQ(WidgetState::decode(WidgetState::encode(nothing)), nothing);

    // Fractions of a second are dropped, so such a record does not come back equal.
    WidgetState fractional = state;
    fractional.writtenAt = written.adding(0.75);
    const WidgetState back = WidgetState::decode(WidgetState::encode(fractional));
    EXPECT_EQ(back.writtenAt, written);
    EXPECT_NE(back, fractional);

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
    const auto rows = testing::dataTable("widget-state-refusals.txt", 1);
    ASSERT_EQ(rows.size(), 22u);
    for (const auto& row : rows) EXPECT_THROW(WidgetState::decode(bytesOf(row[0])), RepositoryJSON::DecodingError) << row[0];
}

TEST(WidgetStateTest, FileInTheAppGroupDataFolder) {
    test::TempFolder home;
    ::setenv("XDG_DATA_HOME", home.string().c_str(), 1);
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
    ::unsetenv("XDG_DATA_HOME");
}

TEST(WidgetSummaryTest, StalenessAndDetail) {
    const WidgetState& nothing = WidgetState::nothingKnownYet();
    EXPECT_FALSE(nothing.wasEverWritten() || nothing.needsAttention() || nothing.stalenessNote(now));

    const struct {
        double age;
        std::optional<std::string> note;
    } staleness[] = {{10'799, {}}, {10'800, "as of 3 hours ago"}, {-60, {}}, {4 * 86'400.0, "as of 4 days ago"}};
    for (const auto& c : staleness) {
        const WidgetState state{"H", Tone::good, "s", std::nullopt, 0, now.adding(-c.age)};
        EXPECT_EQ(state.stalenessNote(now), c.note) << c.age;
    }

    using WidgetSummary::Size;
    const ScreenStanding::Headline attention{"Check what changed", Tone::attention, "x"};
    const auto twoHoursAgo = std::optional(now.adding(-7200));
    const struct {
        std::optional<Date> lastSuccess;
        std::int64_t copies;
        Size size;
        std::optional<std::string> detail;
    } details[] = {
        {twoHoursAgo, 3, Size::medium, "Backed up 2 hours ago. 3 confirmed copies."},
        {twoHoursAgo, 1, Size::medium, "Backed up 2 hours ago. 1 confirmed copy."},
        {twoHoursAgo, 0, Size::medium, "Backed up 2 hours ago. 0 confirmed copies."},
        {twoHoursAgo, 12'345, Size::medium, "Backed up 2 hours ago. 12,345 confirmed copies."},
        {std::nullopt, 3, Size::medium, "Never backed up."},
        {twoHoursAgo, 3, Size::small, "Backed up 2 hours ago"},
        {std::nullopt, 3, Size::small, std::nullopt},
    };
    for (const auto& c : details) {
        const auto content = WidgetSummary::content(attention, c.lastSuccess, c.copies, c.size, now);
        EXPECT_EQ(content, (WidgetSummary::Content{"Check what changed", c.detail, true, now}));
    }
}

}  // namespace
}  // namespace wm

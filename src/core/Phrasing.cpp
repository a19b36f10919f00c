#include "core/Phrasing.h"

#include <memory>

#include <unicode/calendar.h>
#include <unicode/numberformatter.h>
#include <unicode/reldatefmt.h>
#include <unicode/timezone.h>

#include "core/ByteCountFormatter.h"
#include "core/Localization.h"

namespace wm::Phrasing {

namespace {

std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::string withUnit(std::int64_t n, const char* unit) {
    std::string text = grouped(n) + " " + unit;
    if (n != 1) text += "s";
    return text + " ago";
}

}  // namespace

std::string grouped(std::int64_t value, const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text =
        icu::number::NumberFormatter::withLocale(icu::Locale(locale.c_str())).formatInt(value, status).toString(status);
    if (U_FAILURE(status) || text.isEmpty()) return std::to_string(value);
    return utf8(text);
}

std::string grouped(std::int64_t value) { return grouped(value, Localization::localeIdentifier()); }

std::string count(std::int64_t n, const std::string& singular, const std::optional<std::string>& plural) {
    std::string noun = n == 1 ? singular : (plural ? *plural : singular + "s");
    return grouped(n) + " " + noun;
}

std::string bytes(std::uint64_t byteCount) {
    if (byteCount == 0) return "nothing";
    return ByteCountFormatter::string(byteCount);
}

std::string list(const std::vector<std::string>& items) {
    if (items.empty()) return "";
    if (items.size() == 1) return items[0];
    std::string out;
    for (std::size_t i = 0; i + 1 < items.size(); ++i) {
        if (i > 0) out += ", ";
        out += items[i];
    }
    return out + " and " + items.back();
}

std::string staleness(Date date, Date reference) {
    // Whole microseconds, so the day and hour cuts are exact.
    std::int64_t ageUs = 0;
    if (reference.microseconds > date.microseconds &&
        __builtin_sub_overflow(reference.microseconds, date.microseconds, &ageUs))
        ageUs = std::numeric_limits<std::int64_t>::max();
    const std::int64_t days = ageUs / (86400LL * 1000000LL);
    if (days >= 90) return withUnit(days / 30, "month");
    if (days >= 1) return withUnit(days, "day");
    const std::int64_t hours = ageUs / (3600LL * 1000000LL);
    if (hours >= 1) return withUnit(hours, "hour");
    return "less than an hour ago";
}

std::string relativeTime(Date date, Date reference, const std::string& locale) {
    if (reference.timeIntervalSince(date) < 60.0) return "just now";
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale loc(locale.c_str());
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(icu::TimeZone::createDefault(), loc, status));
    if (U_FAILURE(status) || !calendar) return "just now";
    // The largest calendar unit with a whole difference, as a calendar counts it.
    const UDate from = static_cast<UDate>(date.microseconds / 1000);
    const UDate to = static_cast<UDate>(reference.microseconds / 1000);
    calendar->setTime(from, status);
    struct Step {
        UCalendarDateFields field;
        UDateRelativeUnit unit;
    };
    const Step steps[] = {
        {UCAL_YEAR, UDAT_RELATIVE_YEARS},         {UCAL_MONTH, UDAT_RELATIVE_MONTHS},
        {UCAL_WEEK_OF_YEAR, UDAT_RELATIVE_WEEKS}, {UCAL_DATE, UDAT_RELATIVE_DAYS},
        {UCAL_HOUR_OF_DAY, UDAT_RELATIVE_HOURS},  {UCAL_MINUTE, UDAT_RELATIVE_MINUTES},
        {UCAL_SECOND, UDAT_RELATIVE_SECONDS},
    };
    int32_t amount = 0;
    UDateRelativeUnit unit = UDAT_RELATIVE_SECONDS;
    for (const Step& step : steps) {
        int32_t difference = calendar->fieldDifference(to, step.field, status);
        if (U_FAILURE(status)) return "just now";
        if (difference != 0) {
            amount = difference;
            unit = step.unit;
            break;
        }
    }
    icu::RelativeDateTimeFormatter formatter(loc, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_FAILURE(status)) return "just now";
    icu::UnicodeString text;
    formatter.format(static_cast<double>(amount), UDAT_DIRECTION_LAST, unit, text, status);
    if (U_FAILURE(status)) return "just now";
    return utf8(text);
}

std::string relativeTime(Date date, Date reference) {
    return relativeTime(date, reference, Localization::localeIdentifier());
}

}  // namespace wm::Phrasing

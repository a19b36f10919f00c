#pragma once
// The one point-in-time type of the project: whole microseconds since
// 1970-01-01T00:00:00Z. Differences are exact, so a threshold such as
// 172,800 seconds compares exactly. Durations are double seconds.
#include <compare>
#include <cstdint>

namespace wm {

// a / b rounded toward negative infinity (b != 0), as whole days or seconds before 1970 need.
constexpr std::int64_t floorDivision(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

struct Date {
    std::int64_t microseconds = 0;  // since the Unix epoch, UTC

    static Date fromMicroseconds(std::int64_t us) { return Date{us}; }
    static Date fromSeconds(double seconds);  // rounded to the nearest microsecond, clamped
    double secondsSince1970() const { return static_cast<double>(microseconds) / 1e6; }

    static Date now();
    // Now, rounded to whole milliseconds (every stored time of a repository).
    static Date repositoryNow() { return now().repositoryPrecision(); }
    // Rounded to the nearest whole millisecond (half away from zero).
    Date repositoryPrecision() const;
    // Rounded down to a whole millisecond: never later than this date.
    Date wholeMillisecondsBefore() const;

    // 0001-01-01T00:00:00Z: the "long ago" sentinel. It is whole milliseconds,
    // so it survives every date coding of the project unchanged.
    static Date distantPast();

    Date adding(double seconds) const;
    // Seconds from other to this. Exact while the difference fits 64 bits; dates read from
    // files may lie at the far ends of the range, where it is taken in double precision
    // instead of wrapping round.
    double timeIntervalSince(Date other) const {
        std::int64_t difference;
        if (__builtin_sub_overflow(microseconds, other.microseconds, &difference))
            return (static_cast<double>(microseconds) - static_cast<double>(other.microseconds)) / 1e6;
        return static_cast<double>(difference) / 1e6;
    }

    friend auto operator<=>(const Date&, const Date&) = default;
    friend bool operator==(const Date&, const Date&) = default;
};

// A proleptic Gregorian date in UTC, for any year a record can hold (beyond the ±32767
// years of std::chrono::year: the calendar repeats every 400 years).
struct CivilDate {
    std::int64_t year = 1970;
    unsigned month = 1;  // 1...12
    unsigned day = 1;    // 1...31
};
// Days since 1970-01-01, and back.
std::int64_t daysSince1970(const CivilDate& date);
CivilDate civilDate(std::int64_t daysSince1970);

}  // namespace wm

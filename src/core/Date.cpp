#include "core/Date.h"

#include <chrono>

#include <cmath>
#include <limits>

namespace wm {

namespace {
std::int64_t clampToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::llround(v));
}
}  // namespace

Date Date::fromSeconds(double seconds) { return Date{clampToInt64(seconds * 1e6)}; }

Date Date::now() {
    auto t = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration_cast<std::chrono::microseconds>(t).count()};
}

Date Date::repositoryPrecision() const {
    std::int64_t q = microseconds / 1000;
    std::int64_t r = microseconds % 1000;
    if (r >= 500)
        ++q;
    else if (r <= -500)
        --q;
    std::int64_t rounded;
    // At the very ends of the range the nearest millisecond lies outside it:
    // keep the millisecond inside instead of wrapping around.
    if (__builtin_mul_overflow(q, std::int64_t{1000}, &rounded)) rounded = (microseconds / 1000) * 1000;
    return Date{rounded};
}

Date Date::wholeMillisecondsBefore() const {
    std::int64_t rounded;
    // At the very start of the range the millisecond before lies outside it: keep the one after.
    if (__builtin_mul_overflow(floorDivision(microseconds, 1000), std::int64_t{1000}, &rounded))
        rounded = microseconds / 1000 * 1000;
    return Date{rounded};
}

Date Date::distantPast() { return Date{-62135596800LL * 1000000LL}; }

Date Date::adding(double seconds) const {
    double us = static_cast<double>(microseconds) + seconds * 1e6;
    return Date{clampToInt64(us)};
}

namespace {
constexpr std::int64_t kCycleYears = 400;
constexpr std::int64_t kCycleDays = 146097;
}  // namespace

std::int64_t daysSince1970(const CivilDate& date) {
    namespace c = std::chrono;
    const std::int64_t cycles = floorDivision(date.year - 2000, kCycleYears);
    const auto year = static_cast<int>(date.year - cycles * kCycleYears);  // 2000...2399
    const c::sys_days days{c::year{year} / c::month{date.month} / c::day{date.day}};
    return static_cast<std::int64_t>(days.time_since_epoch().count()) + cycles * kCycleDays;
}

CivilDate civilDate(std::int64_t daysSince1970) {
    namespace c = std::chrono;
    constexpr std::int64_t from2000 = 10957;  // days from 1970-01-01 to 2000-01-01
    const std::int64_t cycles = floorDivision(daysSince1970 - from2000, kCycleDays);
    const c::year_month_day ymd{c::sys_days{c::days{daysSince1970 - cycles * kCycleDays}}};
    return CivilDate{static_cast<int>(ymd.year()) + cycles * kCycleYears, static_cast<unsigned>(ymd.month()),
                     static_cast<unsigned>(ymd.day())};
}

}  // namespace wm

#pragma once
// The counting, byte-size, list, age and relative-time phrases used inside sentences.
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"

namespace wm::Phrasing {

// The number with the process locale's digit grouping ("1,200" in en_US);
// the plain decimal digits when ICU cannot format it.
std::string grouped(std::int64_t value);
std::string grouped(std::int64_t value, const std::string& locale);

// grouped(n), a space, then the singular when n is exactly 1, else the plural
// given or the singular with "s" added. Plain English, not translated.
std::string count(std::int64_t n, const std::string& singular, const std::optional<std::string>& plural = std::nullopt);

template <std::integral I>
requires(!std::same_as<I, std::int64_t> && !std::same_as<I, bool>) std::string
    count(I n, const std::string& singular, const std::optional<std::string>& plural = std::nullopt) {
    if constexpr (std::is_unsigned_v<I>) {
        // No count of anything real exceeds the signed range; clamp rather than wrap.
        constexpr auto top = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        auto u = static_cast<std::uint64_t>(n);
        return count(static_cast<std::int64_t>(u > top ? top : u), singular, plural);
    } else {
        return count(static_cast<std::int64_t>(n), singular, plural);
    }
}

// "nothing" for 0, otherwise the file-style byte count ("1.2 MB").
std::string bytes(std::uint64_t byteCount);

// "" / "a" / "a and b" / "a, b and c" (no comma before "and").
std::string list(const std::vector<std::string>& items);

// How long before `reference` the date lies, in plain English: "less than an hour ago",
// "1 hour ago", "5 hours ago", "1 day ago" .. "89 days ago", then "3 months ago" (days / 30).
// A date after the reference counts as no age.
std::string staleness(Date date, Date reference);

// "just now" when the date is less than 60 seconds before the reference, or after it;
// otherwise the locale's relative phrase with the largest whole calendar unit:
// "2 hours ago", "3 days ago", "1 week ago". Sentences take it through a placeholder.
std::string relativeTime(Date date, Date reference);
std::string relativeTime(Date date, Date reference, const std::string& locale);

}  // namespace wm::Phrasing

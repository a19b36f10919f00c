#pragma once
// The further copies of a backup that have not been brought up to date for too long,
// told in one sentence. The caller passes each copy's last-current date and the time.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"

namespace wm::CopyFallingBehind {

struct Copy {
    std::string name;
    std::optional<Date> lastCurrent;  // when it last held the newest backup; absent: never

    friend bool operator==(const Copy&, const Copy&) = default;
};

// A copy is mentioned once it has been behind for at least this many days.
inline constexpr std::int64_t daysBeforeMentioning = 10;

// The copies behind by at least `days` whole days' worth of seconds, in input order.
// A copy that never was current is not among them.
std::vector<Copy> fallenBehind(const std::vector<Copy>& copies, Date now, std::int64_t days);

// One copy behind: its name and age in days; several: how many. Absent when none is.
std::optional<std::string> sentence(const std::vector<Copy>& copies, Date now);

}  // namespace wm::CopyFallingBehind

#pragma once
// How long the first backup to a new destination will roughly take, as a range of
// durations from a fixed assumed transfer rate per kind of destination.
#include <cstdint>
#include <optional>
#include <string>

namespace wm::FirstBackupEstimate {

enum class Destination { localDrive, networkShare, cloudFolder };

// Bytes per second assumed for each kind.
double assumedRate(Destination destination);

// From 0.6 to 2 times the estimate; absent for nothing to copy or an estimate of two
// minutes or less.
std::optional<std::string> sentence(std::int64_t bytes, Destination to);

// "35 minutes" (multiples of 5, at least 5) under 90 minutes, "21 hours" (at least 2) under
// a day, then "3 days" (at least 1). A duration that is not finite or not positive reads as
// no time at all; one too long for a count of days says the largest count there is.
std::string describe(double seconds);

}  // namespace wm::FirstBackupEstimate
